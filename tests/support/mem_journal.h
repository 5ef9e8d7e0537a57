// A rollback journal spot in memory, for tests of the engine's journal; with
// a Power, every change it makes is a point where the run can be stopped.
#pragma once

#include <string>

#include "common/text.h"
#include "engine/journal.h"
#include "support/fault_file.h"
#include "support/mem_file.h"

class MemJournalSpot : public zelp::JournalSpot {
 public:
  bool Target(zelp::FileIdentity& i, std::u16string& n) override {
    i = id;
    n = u"target.rom";
    return true;
  }
  zelp::Trust OpenFound(CKOVA_xFile*& f) override {
    if (!exists) return zelp::Trust::kMissing;
    if (!trusted) return zelp::Trust::kUntrusted;
    file.open = true;
    file.pos = 0;
    f = &file;
    return zelp::Trust::kTrusted;
  }
  void CloseFound() override { file.open = false; }
  bool RemoveFound() override { return Step() && (exists = false, file.data.clear(), true); }
  bool SetAsideFound(std::u16string& where) override {
    if (!Step()) return false;
    aside = file.data;
    exists = false;
    where = u"aside";
    return true;
  }
  std::u16string FoundName() override { return u"journal"; }
  CKOVA_xFile* Create(int64_t size, zelp::Unjournalled& why) override {
    if (size > room) return why.Set(zelp::Remark::kNoRoom, zelp::Decimal(size)), nullptr;
    file = MemFile();
    made = true;
    return &writing;
  }
  bool Publish() override {
    if (!Step()) return false;
    exists = true;
    if (clock) durableAt = *clock;
    return true;
  }
  bool Discard() override { return Retire(stays); }
  bool Retire(bool& s) override {
    s = false;
    if (!Step()) return false;
    exists = false;
    file.data.clear();
    return true;
  }
  std::u16string Name() override { return u"journal"; }
  bool FreeSpace(uint64_t&) override { return false; }

  MemFile file;
  CrashFile writing{file, &power};  // what the run writes the journal through
  std::vector<uint8_t> aside;
  zelp::FileIdentity id{1, 2};
  bool exists = false, trusted = true, made = false, stays = false;
  int64_t room = INT64_MAX;  // the journal's size beyond which Create fails
  Power* power = nullptr;
  int* clock = nullptr;  // when set, durableAt takes its value once the journal is durable
  int durableAt = -1;

 private:
  bool Step() { return !power || power->Step(); }
};
