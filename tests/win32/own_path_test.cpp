// The program finds its own file through the module file name. A name of
// 260 units or more does not fit the 260-unit buffer: the start must fail,
// never read the file that the name's first 259 units happen to name.
#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <memory>
#include <string>

#include "engine/patch_stub.h"
#include "support/patch_builder.h"
#include "win_test_util.h"

namespace {

using zelp_test::TempDir;
using zelp_test::WriteWholeFile;

// The thread block is read through the segment register; GCC takes that
// read for an access to an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
PEB* CurrentPeb() { return NtCurrentTeb()->ProcessEnvironmentBlock; }
#pragma GCC diagnostic pop

// Rewrites, for the life of the object, the loader's record of this
// program's file name, which is where the module-name call reads it: Wine
// cannot start a program from a path that long, so the name is faked.
class ModuleNameOverride {
 public:
  explicit ModuleNameOverride(std::wstring& name) {
    PEB* peb = CurrentPeb();
    // The first module in memory order is the program itself.
    entry_ = CONTAINING_RECORD(peb->Ldr->InMemoryOrderModuleList.Flink, LDR_DATA_TABLE_ENTRY,
                               InMemoryOrderLinks);
    saved_ = entry_->FullDllName;
    entry_->FullDllName.Buffer = &name[0];
    entry_->FullDllName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    entry_->FullDllName.MaximumLength = static_cast<USHORT>(entry_->FullDllName.Length + 2);
  }
  ~ModuleNameOverride() { entry_->FullDllName = saved_; }

 private:
  LDR_DATA_TABLE_ENTRY* entry_;
  UNICODE_STRING saved_;
};

// A path of exactly `units` units under `dir`, its folders created.
std::wstring PathOfLength(std::wstring dir, size_t units) {
  while (dir.size() + 60 < units) {
    dir += std::wstring(49, L'd') + L"补\\";
    CreateDirectoryW(dir.c_str(), nullptr);
  }
  return dir + std::wstring(units - dir.size() - 4, L'f') + L".exe";
}

TEST(OwnPath, ANameOf260UnitsOrMoreFailsTheStart) {
  TempDir dir;
  // A good bare patch whose path is 259 units long: the longest that fits.
  std::wstring fits = PathOfLength(dir.path(), 259);
  ASSERT_EQ(259u, fits.size());
  PatchBuilder patch;
  patch.Header(8, 0).End();
  ASSERT_TRUE(WriteWholeFile(fits, std::string(patch.bytes.begin(), patch.bytes.end())));
  auto stub = std::make_unique<CPatchStub>(0);

  struct Case {
    std::wstring name;
    int want;
  } cases[] = {
      {fits, 1},  // the faked name works when it fits
      // 260 units and more: Windows cuts the name to the 259 units above (and
      // Wine leaves it without a terminator); neither may be used.
      {fits + L"x", 0},
      {fits + L".exe", 0},
      {fits + std::wstring(300, L'y'), 0},
  };
  for (Case& c : cases) {
    ModuleNameOverride name(c.name);
    wchar_t seen[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, seen, MAX_PATH)) << "the override is not seen";
    ASSERT_EQ(0, std::wstring(seen).compare(0, 100, c.name.substr(0, 100)));
    EXPECT_EQ(c.want, stub->LoadPatchInfo()) << c.name.size() << " units";
  }
}

}  // namespace
