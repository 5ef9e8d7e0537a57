// cmake --install into a temporary prefix: the installed zelp finds the
// installed dialog program for an OUT ending in .exe, and its man page says
// what its help says.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

// Roff to plain words: requests reduced to their arguments, escapes undone, white space folded.
std::string ManText(const std::string& roff) {
  std::istringstream in(roff);
  std::string line, out;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '.') {  // a request: its arguments only (.TH holds the version)
      size_t space = line.find(' ');
      line = space == std::string::npos ? "" : line.substr(space + 1);
      line.erase(std::remove(line.begin(), line.end(), '"'), line.end());
    }
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] != '\\' || i + 1 >= line.size()) {
        out += line[i];
        continue;
      }
      char e = line[++i];
      if (e == '-' || e == '\\')
        out += e;
      else if (e == 'e')
        out += '\\';
      else if (e == 'f')
        ++i;  // a font change: \fB, \fR, \fI, \fP
      // \& and others: nothing
    }
    out += ' ';
  }
  return out;
}

std::string Folded(const std::string& text) {
  std::string out;
  for (char c : text) {
    bool space = c == ' ' || c == '\n' || c == '\t';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  return out;
}

}  // namespace

TEST(CliInstall, InstalledZelpUsesTheInstalledStubAndItsManPageMatchesItsHelp) {
  TempDir prefix;
  testutil::RunOptions direct;
  direct.wrap = false;
  // The native stand-in for the dialog program, so that the result can run here.
  auto installed = RunProgram("env",
                              {"ZELP_INSTALL_STUB=" ZELP_FAKE_STUB, ZELP_CMAKE, "--install",
                               ZELP_BUILD_DIR, "--prefix", prefix.path()},
                              direct);
  ASSERT_EQ(0, installed.exitCode) << installed.out << installed.err;
  const std::string zelp = prefix.File("bin/zelp");
  EXPECT_EQ(ReadFile(ZELP_FAKE_STUB), ReadFile(prefix.File("share/zelp/zelp-stub.exe")));

  TempDir work;
  auto a = testutil::RandomBytes(4000, 51), b = a;
  b[77] ^= 0xFF;
  WriteFile(work.File("a.rom"), a);
  WriteFile(work.File("b.rom"), b);
  auto made = RunProgram(
      zelp, {"create", work.File("a.rom"), work.File("b.rom"), "-o", work.File("game.exe")});
  ASSERT_EQ(0, made.exitCode) << made.err;
  EXPECT_NE(std::string::npos, made.out.find("(dialog program " + prefix.path())) << made.out;
  // The stand-in prints the patch offset it was stamped with: the stub's size.
  std::filesystem::permissions(work.File("game.exe"), std::filesystem::perms::owner_all);
  auto ran = RunProgram(work.File("game.exe"), {});
  EXPECT_EQ(std::to_string(ReadFile(ZELP_FAKE_STUB).size()) + "\n", ran.out);
  WriteFile(work.File("t.rom"), a);
  EXPECT_EQ(0, RunProgram(zelp, {"apply", work.File("game.exe"), work.File("t.rom")}).exitCode);
  EXPECT_EQ(b, ReadFile(work.File("t.rom")));

  auto page = ReadFile(prefix.File("share/man/man1/zelp.1"));
  const std::string man = Folded(ManText(std::string(page.begin(), page.end())));
  std::vector<std::vector<std::string>> helps = {{"--help"}, {"--version"}};
  for (const char* c : {"info", "check", "apply", "create", "pack", "version"})
    helps.push_back({c, "--help"});
  for (const auto& args : helps) {
    auto help = RunProgram(zelp, args);
    ASSERT_EQ(0, help.exitCode);
    std::istringstream lines(help.out);
    std::string line;
    while (std::getline(lines, line)) {
      std::string folded = Folded(line);
      if (folded.empty() || folded == " ") continue;
      EXPECT_NE(std::string::npos, man.find(folded)) << "not in the man page: " << line;
    }
  }
}
