// A CKOVA_xFile wrapper that counts and logs every call, and makes the N-th
// call of one kind fail or come up short, for sweeping injected faults over
// a whole application.
#pragma once

#include <cstdint>
#include <vector>

#include "file/xfile.h"

enum class Op { kRead, kWrite, kSeek, kSize, kTell, kSetEnd, kReserve, kFlush, kCount };
inline const char* OpName(Op op) {
  static const char* const kNames[] = {"Read", "Write",  "Seek",    "GetSize",
                                       "Tell", "SetEnd", "Reserve", "Flush"};
  return kNames[static_cast<int>(op)];
}

enum class Fault {
  kFail,   // the call does nothing and reports failure
  kShort,  // Read/Write: half the bytes are transferred; Reserve: half the growth, then failure
};

class FaultFile : public CKOVA_xFile {
 public:
  struct Call {
    Op op;
    int64_t position;  // before the call (Tell of the inner file)
    uint32_t count;    // Read/Write: bytes asked; Seek/Reserve: low bits of the argument
    int64_t arg;       // Seek/Reserve argument
    int seq;           // order among the calls of every FaultFile sharing `clock`
    bool faulted;
  };

  FaultFile(CKOVA_xFile& inner, int& clock) : inner_(inner), clock_(clock) {}

  // Makes the n-th call (1-based) of `op` fail or come up short.
  void Arm(Op op, int n, Fault fault) {
    armedOp_ = op;
    armedN_ = n;
    fault_ = fault;
  }
  int Calls(Op op) const { return calls_[static_cast<int>(op)]; }
  bool Fired() const { return firedSeq_ >= 0; }
  int FiredSeq() const { return firedSeq_; }
  const std::vector<Call>& Log() const { return log_; }

  uint32_t Read(void* buffer, uint32_t count) override {
    bool hit = Enter(Op::kRead, count, 0);
    if (!hit) return inner_.Read(buffer, count);
    return fault_ == Fault::kShort && count >= 2 ? inner_.Read(buffer, count / 2) : 0;
  }
  uint32_t Write(const void* buffer, uint32_t count) override {
    bool hit = Enter(Op::kWrite, count, 0);
    if (!hit) return inner_.Write(buffer, count);
    return fault_ == Fault::kShort && count >= 2 ? inner_.Write(buffer, count / 2) : 0;
  }
  void Close() override { inner_.Close(); }
  void GetSize(int64_t& size) override {
    if (!Enter(Op::kSize, 0, 0)) inner_.GetSize(size);
  }
  int Tell(int64_t& position) override {
    return Enter(Op::kTell, 0, 0) ? 0 : inner_.Tell(position);
  }
  bool Seek(int64_t position) override {
    return Enter(Op::kSeek, 0, position) ? false : inner_.Seek(position);
  }
  uint32_t Crc32() override { return Crc32OfFile(*this); }  // through the counted calls
  bool IsOpen() override { return inner_.IsOpen(); }
  bool SetEnd() override { return Enter(Op::kSetEnd, 0, 0) ? false : inner_.SetEnd(); }
  bool Reserve(int64_t size) override {
    if (!Enter(Op::kReserve, 0, size)) return inner_.Reserve(size);
    if (fault_ == Fault::kShort) {
      // Some of the space was had before the disk filled up.
      int64_t now = 0;
      inner_.GetSize(now);
      if (size > now) inner_.Reserve(now + (size - now) / 2);
    }
    return false;
  }
  bool Flush() override { return Enter(Op::kFlush, 0, 0) ? false : inner_.Flush(); }

 private:
  // Counts and logs the call; true when it is the one to fault.
  bool Enter(Op op, uint32_t count, int64_t arg) {
    int n = ++calls_[static_cast<int>(op)];
    int64_t position = -1;
    inner_.Tell(position);
    bool hit = op == armedOp_ && n == armedN_;
    log_.push_back({op, position, count, arg, clock_++, hit});
    if (hit) firedSeq_ = log_.back().seq;
    return hit;
  }

  CKOVA_xFile& inner_;
  int& clock_;
  int calls_[static_cast<int>(Op::kCount)] = {};
  std::vector<Call> log_;
  Op armedOp_ = Op::kCount;
  int armedN_ = 0;
  Fault fault_ = Fault::kFail;
  int firedSeq_ = -1;
};
