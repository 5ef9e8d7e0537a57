// The chooser's request as built by its constructor (showing it needs a
// user: the Wine end-to-end tests do that).
#include "ui/file_dlg.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring FilterUnits(const KOVA_FileDlgW& d, size_t units) {
  return std::wstring(d.request.lpstrFilter, units);
}

TEST(FileChooser, FilterPairsBecomeNulSeparatedWithAnExtraTerminator) {
  struct {
    const wchar_t* filter;
    std::wstring expected;  // including the final two NULs
  } cases[] = {
      {L"要打补丁的文件|*.*|", std::wstring(L"要打补丁的文件\0*.*\0\0", 13)},
      {nullptr, std::wstring(L"所有文件\0*.*\0\0", 10)},
      {L"ROM|*.gba;*.nds|所有文件|*.*|", std::wstring(L"ROM\0*.gba;*.nds\0所有文件\0*.*\0\0", 27)},
  };
  for (const auto& c : cases) {
    KOVA_FileDlgW d(0, nullptr, nullptr, c.filter, 260, 0);
    EXPECT_EQ(FilterUnits(d, c.expected.size()), c.expected);
  }
}

TEST(FileChooser, CapacityIsRaisedTo260) {
  struct {
    DWORD asked, got;
  } cases[] = {{0, 260}, {100, 260}, {259, 260}, {260, 260}, {1000, 1000}};
  for (const auto& c : cases) {
    KOVA_FileDlgW d(0, nullptr, nullptr, nullptr, c.asked, 0);
    EXPECT_EQ(d.request.nMaxFile, c.got);
    EXPECT_EQ(d.request.lpstrFile, d.fileBuffer);
    // The whole capacity is really there to write into.
    d.fileBuffer[c.got - 1] = L'x';
  }
}

TEST(FileChooser, TheRequestIsTheFullRecordOnThisSystem) {
  // Wine reports an NT system of version 5 or later: the whole 64-bit
  // record, not the old 32-bit 76 bytes.
  KOVA_FileDlgW d(1, nullptr, nullptr, nullptr, 260, 0);
  EXPECT_EQ(d.request.lStructSize, sizeof(OPENFILENAMEW));
  EXPECT_EQ(d.request.hwndOwner, nullptr);
  EXPECT_EQ(d.request.lpstrTitle, nullptr);
  EXPECT_EQ(d.request.lpstrInitialDir, nullptr);
  EXPECT_EQ(d.request.lpstrFileTitle, d.fileTitle);
  EXPECT_EQ(d.request.nMaxFileTitle, 260u);
}

TEST(FileChooser, OptionBitsAddHookAndExplorerAndDropSizingWithATemplate) {
  KOVA_FileDlgW save(0, nullptr, nullptr, nullptr, 260, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY);
  EXPECT_EQ(save.request.Flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY |
                                                   OFN_ENABLEHOOK | OFN_EXPLORER));
  KOVA_FileDlgW templ(0, nullptr, nullptr, nullptr, 260, OFN_ENABLETEMPLATE | OFN_ENABLESIZING);
  EXPECT_EQ(templ.request.Flags,
            static_cast<DWORD>(OFN_ENABLETEMPLATE | OFN_ENABLEHOOK | OFN_EXPLORER));
}

TEST(FileChooser, InitialNameAndExtensionAndTheChosenPath) {
  const wchar_t* ext = L"rom";
  KOVA_FileDlgW d(0, ext, L"C:\\游戏\\a b.rom", nullptr, 260, 0);
  EXPECT_EQ(d.request.lpstrDefExt, ext);  // referenced, not copied
  wchar_t out[260];
  out[0] = L'?';
  EXPECT_EQ(d.GetChosenPath(out), 1);
  EXPECT_EQ(std::wstring(out), L"C:\\游戏\\a b.rom");

  KOVA_FileDlgW empty(0, nullptr, nullptr, nullptr, 260, 0);
  EXPECT_EQ(empty.GetChosenPath(out), 1);
  EXPECT_EQ(out[0], 0);
}

}  // namespace
