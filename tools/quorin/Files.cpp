// quorin info, convert and validate: what a story file holds, the file in the other form, and
// whether the library reads it whole.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "tools/quorin/Commands.h"

namespace QuorinTool {

namespace {

// Member type names, by type code.
constexpr const char* kTypeNames[] = {
    "Byte", "UnsignedByte", "Word", "UnsignedWord", "DWord", "UnsignedDWord", "QWord", "UnsignedQWord",
    "Float", "Double", "TextId", "BlobId", "PrototypeId", "InstanceId", "ListPrototypeId", "ListInstanceId",
    "Reference", "ListReference", "ScriptReference"};
static_assert(std::size(kTypeNames) == 19);
constexpr uint32_t kBackgroundExport = 0x80000000u, kBackgroundImport = 1;
constexpr uint32_t kInvalidArguments = 7;
constexpr int kBarWidth = 30;

std::string Name(uint32_t hash) {
  const char* name = g_lib.TlxDebug_TryGetString(hash);
  char fallback[16];
  std::snprintf(fallback, sizeof fallback, "0x%08X", hash);
  return name != nullptr ? name : fallback;
}

void PrintType(const char* kind, uint16_t id, TlxTypeInfo* type, TlxMember* (*member)(uint16_t, uint32_t)) {
  if (type == nullptr) return;
  std::printf("  %s 0x%04X %s, %u bytes:", kind, id, Name(type->nameHash).c_str(), type->sizeByte);
  for (uint32_t i = 0; i < type->memberCount; ++i) {
    const TlxMember* record = member(id, i);
    if (record == nullptr) continue;
    const uint32_t code = record->typeWord & 31, count = record->typeWord >> 5;
    std::printf("%s %s %s", i == 0 ? "" : ",", Name(record->nameHash).c_str(),
                code < std::size(kTypeNames) ? kTypeNames[code] : "Byte");
    if (count != 1) std::printf("[%u]", count);
  }
  std::printf("\n");
}

void PrintCounts(const SInventory& inventory) {
  constexpr const char* kSections[][2] = {
      {"classes", "classes"},       {"templates", "templates"},           {"prototypes", "prototypes"},
      {"listprototypes", "list prototypes"}, {"instances", "instances"}, {"listinstances", "list instances"},
      {"texts", "texts"},           {"blobs", "blobs"},                   {"variables", "variables"}};
  size_t encodings[3] = {};
  for (const uint32_t text : inventory.texts) ++encodings[std::min<uint32_t>(g_lib.TlxGetTextEncoding(text), 2)];
  for (const auto& [key, label] : kSections) {
    const auto found = inventory.counts.find(key);
    std::printf("  %-16s %6zu", label, found == inventory.counts.end() ? 0 : found->second);
    if (std::string(key) == "texts") std::printf("  (UTF-8 %zu, UTF-16 %zu, UTF-32 %zu)", encodings[0], encodings[1], encodings[2]);
    if (std::string(key) == "variables") std::printf("  (%zu namespace%s)", inventory.namespaces, inventory.namespaces == 1 ? "" : "s");
    std::printf("\n");
  }
  std::printf("  %-16s %6d  (an import puts everything in the current region, 0)\n", "regions", 1);
}

void DrawBar(const char* what, float progress) {
  if (!(progress >= 0)) progress = 0;  // not a number while nothing has been counted yet
  const int filled = static_cast<int>(std::lround(std::min(progress, 1.0f) * kBarWidth));
  std::fprintf(stderr, "\r  %-8s [%s%s] %3d%%", what, std::string(filled, '#').c_str(),
               std::string(kBarWidth - filled, '-').c_str(), static_cast<int>(std::lround(std::min(progress, 1.0f) * 100)));
  if (progress >= 1.0f) std::fprintf(stderr, "\n");
}

void DrawReadBar(float progress) { DrawBar("reading", progress); }

bool ParseFormat(const SCommandLine& line, EFormat& format) {
  const std::string out = line.positional[1];
  const std::string chosen = line.Value("--format", std::filesystem::path(out).extension() == ".xml" ? "xml" : "binary");
  format = chosen == "xml" ? EFormat::kXml : EFormat::kBinary;
  return chosen == "xml" || chosen == "binary";
}

// The export configuration the options ask for; false (reported) on a bad option value.
bool ExportConfig(const SCommandLine& line, TlxExportConfig& config) {
  const std::string order = line.Value("--byte-order", "little");
  if (order != "little" && order != "big") return UsageError("convert", "--byte-order is little or big"), false;
  config.byteOrder = order == "big" ? 1 : 0;
  if (line.values.count("--block-size") != 0) {
    uint32_t size = 0;
    if (!ParseId(line.Value("--block-size"), size) || size == 0) return UsageError("convert", "--block-size takes a number of bytes"), false;
    config.bufferSize = size;
  }
  return true;
}

// Writes the repository to `path`; false (reported) when the library reports a failure.
bool ExportFile(const std::string& path, TlxExportConfig config, bool showProgress) {
  const bool background = showProgress && g_lib.TlxGetExportDone != nullptr && g_lib.TlxGetExportProgress != nullptr;
  if (background) config.flags |= kBackgroundExport;
  g_lib.TlxExport(std::filesystem::absolute(path).string().c_str(), &config);
  for (; background && !g_lib.TlxGetExportDone(); std::this_thread::sleep_for(std::chrono::milliseconds(40)))
    DrawBar("writing", g_lib.TlxGetExportProgress());
  if (background) DrawBar("writing", 1.0f);
  SInterchangeResult result{};
  char message[256] = "";
  bool reported = g_lib.TlxGetInterchangeResult != nullptr && g_lib.TlxGetInterchangeResult(0, &result, message, sizeof message);
  if (background && reported && result.code == kInvalidArguments) {
    // A build without the background thread refuses the mode: write on this thread instead.
    config.flags &= ~kBackgroundExport;
    g_lib.TlxExport(std::filesystem::absolute(path).string().c_str(), &config);
    reported = g_lib.TlxGetInterchangeResult(0, &result, message, sizeof message);
  }
  std::error_code error;
  const bool written = std::filesystem::file_size(path, error) > 0 && !error;
  if ((!reported || result.code == 0) && written) return true;
  if ((reported && result.code == kInvalidArguments) || (!reported && config.format != 0))
    std::fprintf(stderr, "%s: this build of the library does not write the %s form\n", path.c_str(), FormatName(EFormat(config.format)));
  else
    std::fprintf(stderr, "%s: could not be written%s%s\n", path.c_str(), message[0] != '\0' ? ": " : "", message);
  return false;
}

}  // namespace

int RunInfo(const SCommandLine& line) {
  const std::string& file = line.positional[0];
  if (!StartLibrary(false)) return kExitUsage;
  const SLoad load = ImportFile(file);
  if (!load.ok) return g_lib.TlxShutdown(), ReportLoadFailure(file, load);
  SInventory inventory;
  if (!TakeInventory(inventory)) return g_lib.TlxShutdown(), kExitUsage;
  std::printf("%s: %s, %llu bytes, loaded in %.1f ms\n", file.c_str(), FormatName(load.format),
              static_cast<unsigned long long>(load.size), load.seconds * 1000);
  PrintCounts(inventory);
  for (const uint16_t id : inventory.classes) PrintType("class", id, g_lib.TlxGetClassType(id), g_lib.TlxGetClassMemberByIndex);
  for (const uint16_t id : inventory.templates)
    PrintType("template", id, g_lib.TlxGetTemplateType(id), g_lib.TlxGetTemplateMemberByIndex);
  g_lib.TlxShutdown();
  return kExitOk;
}

int RunConvert(const SCommandLine& line) {
  const std::string &in = line.positional[0], &out = line.positional[1];
  EFormat format = EFormat::kXml;
  if (!ParseFormat(line, format)) return UsageError("convert", "--format is xml or binary");
  if (g_lib.TlxExport == nullptr || g_lib.TlxGetDefaultExportConfig == nullptr)
    return UsageError("convert", "this build of the library cannot write interchange files");
  TlxExportConfig config = g_lib.TlxGetDefaultExportConfig(static_cast<uint32_t>(format));
  if (!ExportConfig(line, config)) return kExitUsage;
  if (!StartLibrary(false)) return kExitUsage;
  const bool terminal = ErrorIsTerminal();
  const auto start = std::chrono::steady_clock::now();
  const SLoad load = ImportFile(in, terminal ? &DrawReadBar : nullptr);
  if (!load.ok) return g_lib.TlxShutdown(), ReportLoadFailure(in, load);
  const bool ok = ExportFile(out, config, terminal);
  g_lib.TlxShutdown();
  if (!ok) return kExitUsage;
  std::error_code error;
  std::fprintf(stderr, "%s (%s, %llu bytes) -> %s (%s, %llu bytes) in %.2f s\n", in.c_str(), FormatName(load.format),
               static_cast<unsigned long long>(load.size), out.c_str(), FormatName(format),
               static_cast<unsigned long long>(std::filesystem::file_size(out, error)),
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return kExitOk;
}

int RunValidate(const SCommandLine& arguments) {
  const std::string& file = arguments.positional[0];
  if (g_lib.TlxGetInterchangeResult == nullptr)
    return UsageError("validate", "this build of the library does not report what an import found");
  if (!StartLibrary(false)) return kExitUsage;
  const SLoad load = ImportFile(file);
  g_lib.TlxShutdown();
  const unsigned skipped = load.result.skipped;
  if (load.ok) {
    std::printf("%s: well formed (%s, %llu bytes), %u element%s skipped\n", file.c_str(), FormatName(load.format),
                static_cast<unsigned long long>(load.size), skipped, skipped == 1 ? "" : "s");
    return kExitOk;
  }
  if (load.exitCode != kExitFaults) return ReportLoadFailure(file, load);
  std::string message = load.message;  // the line goes in front, as compilers write it
  const std::string line = "at line " + std::to_string(load.result.line) + ", ";
  if (message.find(line) != std::string::npos) message.replace(message.find(line), line.size(), "at ");
  const std::string where = load.result.line != 0 ? file + ":" + std::to_string(load.result.line) : file;
  std::printf("%s: %s\n%s: the import stopped there; what came before was read, %u element%s skipped\n",
              where.c_str(), message.c_str(), file.c_str(), skipped, skipped == 1 ? "" : "s");
  return kExitFaults;
}

}  // namespace QuorinTool
