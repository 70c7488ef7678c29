#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "foundation/memory/Memory.h"
#include "foundation/system/Exception.h"
#include "foundation/system/File.h"
#include "tests/support/CountingAllocator.h"

using namespace Bravik;
namespace fs = std::filesystem;

namespace {

std::string Utf8(const IString& text) {
  CMutableString converted;
  converted.Assign(text.GetData(), text.GetEncoding(), kUtf8);
  return converted.IsNull() ? "" : static_cast<const char*>(converted.GetData());
}

// '|' stands for the platform's separator.
std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '|', static_cast<char>(kPathSeparator));
  return path;
}

// The kind of CFileException that opening raises, or -1 when it opens.
int OpenFailure(const std::string& path, uint32_t mode) {
  try {
    CNativeFile file(CString(path.c_str()), mode);
    return -1;
  } catch (const CFileException& e) {
    EXPECT_GT(e.GetMessage().GetLength(), 0u) << path;
    return static_cast<int>(e.GetKind());
  }
}

// A fresh folder per test, removed afterwards.
class Files : public testing::Test {
 protected:
  void SetUp() override { fs::remove_all(m_folder), fs::create_directories(m_folder); }
  void TearDown() override { fs::remove_all(m_folder); }
  std::string At(const std::string& name) const { return (m_folder / name).string(); }

  const fs::path m_folder = fs::temp_directory_path() /
      ("quorin_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
};

}  // namespace

TEST_F(Files, ModesDecideAccessCreationAndTruncation) {
  struct Case { uint32_t mode; bool exists, reads, writes; uint64_t sizeAfterOpen; };
  const Case cases[] = {
      {0, true, true, true, 3},           {kFileRead, true, true, false, 3},
      {kFileWrite, true, false, true, 3}, {kFileRead | kFileTruncate, true, true, false, 0},
      {kFileWrite | kFileCreate, false, false, true, 0},
      {kFileWrite | kFileCreate, true, false, true, 3},
      {kFileRead | kFileWrite | kFileTruncate | kFileCreate, false, true, true, 0}};
  const std::string path = At("mode.bin");
  for (const Case& c : cases) {
    fs::remove(path);
    if (c.exists) std::ofstream(path, std::ios::binary) << "abc";
    CNativeFile file(CString(path.c_str()), c.mode);
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(file.GetSize(), c.sizeAfterOpen);
    EXPECT_EQ(file.CanRead(), c.reads);
    EXPECT_EQ(file.CanWrite(), c.writes);
    char byte = 0;
    if (c.reads) EXPECT_EQ(file.Read(&byte, 1), c.sizeAfterOpen > 0 ? 1u : 0u);
    else EXPECT_THROW(file.Read(&byte, 1), CFileException);
    if (c.writes) EXPECT_EQ(file.Write("xy", 2), 2u);
    else EXPECT_THROW(file.Write("xy", 2), CFileException);
  }
}

TEST_F(Files, LargeTransfersSeekAndEndOfFile) {
  std::vector<char> data(3 << 20), back(data.size());
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
  TResourceRef<IFile> file(Memory::New<CNativeFile>(
      Memory::kObjectPool, CString(At("big.bin").c_str()), kFileRead | kFileWrite | kFileTruncate));
  TResourceRef<IFile> shared = file;
  EXPECT_EQ(file->GetReferenceCount(), 2u);
  shared.Reset();
  EXPECT_EQ(file->Write(data.data(), data.size()), data.size());
  EXPECT_TRUE(file->IsEndOfFile());
  const auto size = static_cast<int64_t>(data.size());
  EXPECT_EQ(file->Seek(kSeekEnd, 0), size);
  EXPECT_EQ(file->Seek(kSeekBegin, 10), 10);
  EXPECT_EQ(file->Seek(kSeekCurrent, 5), 15);
  EXPECT_EQ(file->Tell(), 15);
  EXPECT_FALSE(file->IsEndOfFile());
  EXPECT_EQ(file->Read(back.data(), back.size()), data.size() - 15) << "short at the end";
  EXPECT_TRUE(std::equal(back.begin(), back.end() - 15, data.begin() + 15));
  EXPECT_EQ(file->Read(back.data(), 8), 0u);
  EXPECT_EQ(file->Seek(kSeekEnd, -4), size - 4);
  EXPECT_THROW(file->Seek(3, 0), CFileException);
  EXPECT_THROW(file->Seek(kSeekBegin, -1), CFileException);
}

TEST(SplitPath, DirectoryNameAndExtension) {
  struct Case { const char *path, *directory, *name, *extension; };
  const Case cases[] = {{"C:|dir|archive.tar.gz", "C:|dir", "archive.tar", "gz"},
                        {"C:|dir.d|file", "C:|dir.d", "file", ""}, {"name", "", "name", ""},
                        {"|.profile", "", "", "profile"}, {"a|b.", "a", "b", ""}, {"", "", "", ""}};
  CMutableString directory, name, extension;
  for (const Case& c : cases) {
    SplitPath(CString(Native(c.path).c_str()), directory, name, extension);
    EXPECT_EQ(Utf8(directory) + "*" + Utf8(name) + "*" + Utf8(extension),
              Native(c.directory) + "*" + c.name + "*" + c.extension);
  }
  EXPECT_EQ(Utf8(JoinPath(CString("base"), CString(u"r\u00e9l.txt"))), Native("base|r\u00e9l.txt"));
}

TEST_F(Files, CanonicalPathsAreAbsoluteAndLexical) {
  const std::string folder = Utf8(CanonicalizePath(CString(m_folder.string().c_str())));
  EXPECT_EQ(Utf8(CanonicalizePath(CString((folder + "/x/../y/./z.txt").c_str()))),
            Native(folder + "|y|z.txt"));
  EXPECT_EQ(Utf8(CanonicalizePath(CString("../../rel.txt"))),
            (fs::current_path().parent_path().parent_path() / "rel.txt").string());
  // "~" is the documents folder: one the test made where it can be moved, else the user's.
  const fs::path documents = m_folder / "docs";
  fs::create_directories(documents / "notes");
  const bool moved = QuorinTest::RedirectDocuments(documents.string().c_str());
  const std::string path = moved ? "~/notes/a.txt" : "~/quorin_tilde_test.txt";
  fs::path made;
  {
    CNativeFile file(CString(path.c_str()), kFileWrite | kFileTruncate);
    made = fs::path(Utf8(file.GetDirectory())) / (Utf8(file.GetName()) + ".txt");
  }
  EXPECT_TRUE(made.is_absolute() && fs::exists(made)) << made;
  QuorinTest::ForEachAllocationFailure([&] { CNativeFile again(CString(path.c_str()), kFileRead); });
  if (moved) EXPECT_EQ(made, documents / "notes" / "a.txt");
  else fs::remove(made);
}

TEST_F(Files, FailuresCarryTheirKind) {
  std::ofstream(At("plain.txt")) << "x";
  const std::string throughFile = At("plain.txt") + Native("|child.txt");
  const std::pair<std::string, int> cases[] = {
      {At("missing.txt"), 1},     {At(std::string(300, 'n') + ".txt"), 3},
      {At(std::string(5000, 'n')), 3}, {m_folder.string(), 0},  // a folder is no file
      {throughFile, 0}};
  for (const auto& [path, kind] : cases)
    EXPECT_EQ(OpenFailure(path, kFileRead), kind) << path.substr(0, 80);
  EXPECT_EQ(OpenFailure(throughFile, kFileWrite | kFileCreate), 0) << "cannot be made";
}
