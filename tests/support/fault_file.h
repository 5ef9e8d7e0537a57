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

// Where a run is stopped: every change of a file (a write, a flush, a size)
// and of a folder (a rename, a removal) is a step; at step `stopAt` the run
// stops, and from then on nothing it does reaches the disk.
struct Power {
  int steps = 0, stopAt = -1;
  bool Step() { return !Off() && ++steps != stopAt; }
  bool Off() const { return stopAt > 0 && steps >= stopAt; }
};

// A file that keeps what was made durable (flushed) apart from what was
// written: after a stop, `durable` is what a power cut leaves, the inner
// file what a killed process leaves.
class CrashFile : public CKOVA_xFile {
 public:
  CrashFile(CKOVA_xFile& inner, Power** power) : inner_(inner), power_(power) {}
  uint32_t Read(void* b, uint32_t n) override { return inner_.Read(b, n); }
  uint32_t Write(const void* b, uint32_t n) override { return Step() ? inner_.Write(b, n) : 0; }
  void Close() override { inner_.Close(); }
  void GetSize(int64_t& size) override { inner_.GetSize(size); }
  int Tell(int64_t& position) override { return inner_.Tell(position); }
  bool Seek(int64_t position) override { return inner_.Seek(position); }
  uint32_t Crc32() override { return Crc32OfFile(*this); }
  bool IsOpen() override { return inner_.IsOpen(); }
  bool SetEnd() override { return Step() && inner_.SetEnd(); }
  bool Reserve(int64_t size) override { return Step() && inner_.Reserve(size); }
  bool Flush() override {
    if (!Step() || !inner_.Flush()) return false;
    durable = Snapshot();
    return true;
  }
  std::vector<uint8_t> Snapshot() {
    int64_t size = 0, at = 0;
    inner_.Tell(at);
    inner_.GetSize(size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    inner_.Seek(0);
    for (size_t got = 0; got < bytes.size();) {
      uint32_t n = inner_.Read(bytes.data() + got, static_cast<uint32_t>(bytes.size() - got));
      if (n == 0) break;
      got += n;
    }
    inner_.Seek(at);
    return bytes;
  }
  std::vector<uint8_t> durable;

 private:
  bool Step() { return !*power_ || (*power_)->Step(); }
  CKOVA_xFile& inner_;
  Power** power_;
};
