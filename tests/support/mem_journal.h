// A rollback journal spot in memory, for tests of the engine's journal.
#pragma once

#include <string>

#include "engine/journal.h"
#include "support/mem_file.h"

class MemJournalSpot : public zelp::JournalSpot {
 public:
  bool Exists() override { return exists; }
  CKOVA_xFile* Create() override {
    file = MemFile();
    exists = false;
    return &file;
  }
  bool Publish() override {
    exists = true;
    if (clock) durableAt = *clock;
    return true;
  }
  void RemoveUnpublished() override {}
  CKOVA_xFile* OpenToRead() override {
    if (!exists) return nullptr;
    file.open = true;
    file.pos = 0;
    return &file;
  }
  void Close() override { file.open = false; }
  bool Remove() override {
    exists = false;
    file.data.clear();
    return true;
  }
  std::u16string TargetName() override { return u"target.rom"; }

  MemFile file;
  bool exists = false;
  int* clock = nullptr;  // when set, durableAt takes its value once the journal is durable
  int durableAt = -1;
};
