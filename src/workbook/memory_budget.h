// How much memory the workbook models of this process may hold, and the cap on the size of a
// source file. Running out of memory must end a read (or a paste) with an error that names the
// file, never with an abort: the models charge their growth here in batches, and a charge that
// goes past the budget fails the operation that asked for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

namespace qm::memory {

// No source file larger than this is read: the bytes are held whole while the reader works, and
// a workbook a user merges is far smaller.
inline constexpr uint64_t kMaxSourceBytes = uint64_t{1} << 30;
inline constexpr const char* kMaxSourceText = "1 GiB";

// Raised inside the workbook layer when a charge goes past the budget; it is a bad_alloc, so
// the places that turn a real shortage into an error value handle this one too.
class BudgetExceeded : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "the memory budget is exhausted"; }
};

// The budget: three quarters of the machine's memory, and half of the address-space (or data)
// limit when one is set, since the models are only part of what the process maps.
size_t Budget();
// Replaces the derived budget (tests); 0 goes back to the derived one.
void SetBudgetForTesting(size_t bytes);
// The budget for people: "1536 MiB".
std::string BudgetText();
// The bracketed reason for the user when `e` ended a read or paste: past the budget, or refused
// by the system itself.
std::string NoMemoryNote(const std::bad_alloc& e);
// Bytes currently charged by all models and reads of the process.
size_t InUse();

// Adds `bytes` to the charge; false when the total now lies past the budget (the bytes stay
// charged: the caller releases them with what it already holds).
bool Charge(size_t bytes);
void Release(size_t bytes);

// The bytes one object holds, noted as it grows and charged in batches. A copy charges what
// its original holds; a move takes the charge along.
class Account {
 public:
  Account() = default;
  ~Account() { Release(charged_); }
  Account(const Account& other) : charged_(other.Total()) { (void)Charge(charged_); }
  Account& operator=(const Account& other) {
    if (this != &other) Reset(other.Total());
    return *this;
  }
  Account(Account&& other) noexcept : charged_(other.charged_), uncharged_(other.uncharged_) {
    other.charged_ = other.uncharged_ = 0;
  }
  Account& operator=(Account&& other) noexcept {
    if (this != &other) {
      Release(charged_);
      charged_ = other.charged_;
      uncharged_ = other.uncharged_;
      other.charged_ = other.uncharged_ = 0;
    }
    return *this;
  }

  void Note(size_t bytes) { uncharged_ += bytes; }
  // Charges what was noted once `batch` bytes have gathered; raises BudgetExceeded when the
  // process is now past its budget (the bytes stay charged to this account).
  void Settle(size_t batch) {
    if (uncharged_ >= batch) ChargeNow();
  }
  void ChargeNow() {
    const size_t n = uncharged_;
    uncharged_ = 0;
    charged_ += n;
    if (!Charge(n)) throw BudgetExceeded();
  }
  // Replaces the charge with `bytes`, after the object freed memory or took another's content.
  void Reset(size_t bytes) {
    Release(charged_);
    uncharged_ = 0;
    charged_ = bytes;
    (void)Charge(bytes);
  }
  size_t Total() const { return charged_ + uncharged_; }

 private:
  size_t charged_ = 0;    // part of the process's total
  size_t uncharged_ = 0;  // noted, not yet added to it
};

// A charge held for a scope, for buffers that live only while a file is read.
class ScopedCharge {
 public:
  ScopedCharge() = default;
  ~ScopedCharge() { Release(bytes_); }
  ScopedCharge(const ScopedCharge&) = delete;
  ScopedCharge& operator=(const ScopedCharge&) = delete;
  // Charges `bytes` more; false when the budget is now exceeded.
  bool Add(size_t bytes) {
    bytes_ += bytes;
    return Charge(bytes);
  }
  // As Add, but raises BudgetExceeded past the budget.
  void AddOrThrow(size_t bytes) {
    if (!Add(bytes)) throw BudgetExceeded();
  }

 private:
  size_t bytes_ = 0;
};

}  // namespace qm::memory
