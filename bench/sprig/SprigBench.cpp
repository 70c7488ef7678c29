// Script evaluation against Lua 5.4 and muParser, on the same condition and the same variable
// values in the same process: a cached (parsed once) evaluation of
//   Sprig  ns:gold >= 10 && !ns:done                 (TlxSprigExecuteParsed)
//   Lua    return ns.gold >= 10 and not ns.done       (precompiled chunk, lua_pcall from C)
//   muParser  gold >= 10 && done == 0                 (muParser has no logical not)
// and parse + evaluate of the same text (TlxSprigExecute against luaL_loadstring + call); and the
// parse of long unary chains, which must grow linearly with the text.
// The cached Sprig evaluation also reports the library allocations it makes per call.
#include <cstdint>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>
#include <lua.hpp>
#include <muParser.h>

#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"

namespace {

constexpr const char* kSprigCondition = "ns:gold >= 10 && !ns:done";
constexpr const char* kLuaCondition = "return ns.gold >= 10 and not ns.done";
constexpr int32_t kGold = 12;

// The library with ns:gold = 12 and ns:done = false.
class CSprigSetup {
 public:
  CSprigSetup() {
    QuorinBench::EnsureMemory();
    TlxInitialize(17, 0);
    Set("ns:gold", kBrvInteger, static_cast<uint32_t>(kGold));
    Set("ns:done", kBrvBoolean, 0);
  }
  ~CSprigSetup() { TlxShutdown(); }

 private:
  static constexpr uint8_t kBrvBoolean = 1;
  static constexpr uint8_t kBrvInteger = 2;
  static void Set(const char* name, uint8_t kind, uint64_t payload) {
    const TlxSprigValue reference = TlxSprigGetVar(name);
    auto* variable = reinterpret_cast<TlxSprigValue*>(reference.payload);
    variable->kind = kind;
    variable->payload = payload;
  }
};

// A Lua state with the table ns = {gold = 12, done = false}.
class CLuaSetup {
 public:
  CLuaSetup() : L(luaL_newstate()) {
    lua_createtable(L, 0, 2);
    lua_pushinteger(L, kGold);
    lua_setfield(L, -2, "gold");
    lua_pushboolean(L, 0);
    lua_setfield(L, -2, "done");
    lua_setglobal(L, "ns");
  }
  ~CLuaSetup() { lua_close(L); }
  lua_State* L;
};

bool CallLua(lua_State* L) {
  lua_pcall(L, 0, 1, 0);
  const bool result = lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  return result;
}

void BM_SprigCachedCondition(benchmark::State& state) {
  CSprigSetup setup;
  TlxSprigExpression* parsed = TlxSprigParse(kSprigCondition);
  if (TlxSprigExecuteParsed(parsed).payload != 1) state.SkipWithError("wrong result");
  const auto execute = QuorinBench::Exported(&TlxSprigExecuteParsed);
  const QuorinBench::CAllocationCount allocations;
  for (auto _ : state) {
    benchmark::DoNotOptimize(execute(parsed));
  }
  state.counters["allocationsPerCall"] = allocations.PerIteration(state);
  TlxSprigFreeNode(parsed);
}
BENCHMARK(BM_SprigCachedCondition);

void BM_LuaCachedCondition(benchmark::State& state) {
  CLuaSetup lua;
  luaL_loadstring(lua.L, kLuaCondition);
  const int chunk = luaL_ref(lua.L, LUA_REGISTRYINDEX);
  lua_rawgeti(lua.L, LUA_REGISTRYINDEX, chunk);
  if (!CallLua(lua.L)) state.SkipWithError("wrong result");
  for (auto _ : state) {
    lua_rawgeti(lua.L, LUA_REGISTRYINDEX, chunk);
    benchmark::DoNotOptimize(CallLua(lua.L));
  }
}
BENCHMARK(BM_LuaCachedCondition);

void BM_MuParserCachedCondition(benchmark::State& state) {
  double gold = kGold;
  double done = 0;
  mu::Parser parser;
  parser.DefineVar("gold", &gold);
  parser.DefineVar("done", &done);
  parser.SetExpr("gold >= 10 && done == 0");
  if (parser.Eval() != 1.0) state.SkipWithError("wrong result");
  for (auto _ : state) {
    benchmark::DoNotOptimize(parser.Eval());
  }
}
BENCHMARK(BM_MuParserCachedCondition);

void BM_SprigParseAndEvaluate(benchmark::State& state) {
  CSprigSetup setup;
  if (TlxSprigExecute(kSprigCondition).payload != 1) state.SkipWithError("wrong result");
  const auto execute = QuorinBench::Exported(&TlxSprigExecute);
  const QuorinBench::CAllocationCount allocations;
  for (auto _ : state) {
    benchmark::DoNotOptimize(execute(kSprigCondition));
  }
  state.counters["allocationsPerCall"] = allocations.PerIteration(state);
}
BENCHMARK(BM_SprigParseAndEvaluate);

void BM_LuaParseAndEvaluate(benchmark::State& state) {
  CLuaSetup lua;
  for (auto _ : state) {
    luaL_loadstring(lua.L, kLuaCondition);
    benchmark::DoNotOptimize(CallLua(lua.L));
  }
}
BENCHMARK(BM_LuaParseAndEvaluate);

// Parsing is linear in the text's length: a chain of n unary operators before an operand, as
// the exported lenient parse (TlxSprigParse) and the strict one (TlxSprigTryParse) read it. The
// ratio of 10^5 to 10^4 characters is 10 when the parse is linear.
std::string UnaryChain(int64_t length) { return std::string(static_cast<size_t>(length) - 1, '!') + "1"; }

void BM_SprigParseUnaryChain(benchmark::State& state) {
  CSprigSetup setup;
  const std::string text = UnaryChain(state.range(0));
  const auto parse = QuorinBench::Exported(&TlxSprigParse);
  for (auto _ : state) {
    TlxSprigFreeNode(parse(text.c_str()));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SprigParseUnaryChain)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SprigTryParseUnaryChain(benchmark::State& state) {
  CSprigSetup setup;
  const std::string text = UnaryChain(state.range(0));
  const auto tryParse = QuorinBench::Exported(&TlxSprigTryParse);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tryParse(text.c_str(), nullptr, 0, nullptr));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SprigTryParseUnaryChain)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

const bool kRatios[] = {
    QuorinBench::RegisterRatio("BM_SprigParseUnaryChain/100000", "BM_SprigParseUnaryChain/10000"),
    QuorinBench::RegisterRatio("BM_SprigTryParseUnaryChain/100000",
                               "BM_SprigTryParseUnaryChain/10000"),
    QuorinBench::RegisterRatio("BM_SprigCachedCondition", "BM_LuaCachedCondition"),
    QuorinBench::RegisterRatio("BM_SprigCachedCondition", "BM_MuParserCachedCondition"),
    QuorinBench::RegisterRatio("BM_SprigParseAndEvaluate", "BM_LuaParseAndEvaluate"),
};

}  // namespace
