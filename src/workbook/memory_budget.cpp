#include "memory_budget.h"

#include <algorithm>
#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace qm::memory {
namespace {

std::atomic<size_t> g_in_use{0};
std::atomic<size_t> g_budget_override{0};

size_t DerivedBudget() {
  size_t budget = SIZE_MAX;
#ifdef _WIN32
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) && status.ullTotalPhys > 0)
    budget = static_cast<size_t>(status.ullTotalPhys / 4 * 3);
#else
  long pages = sysconf(_SC_PHYS_PAGES);
  long page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0)
    budget = static_cast<size_t>(pages) / 4 * 3 * static_cast<size_t>(page);
  // Under an address-space limit the libraries, thread stacks, allocator arenas, the source
  // bytes and the writers' buffers need room too; the models get half.
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit lim{};
    if (getrlimit(resource, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
      budget = std::min<size_t>(budget, static_cast<size_t>(lim.rlim_cur / 2));
  }
#endif
  if (budget == SIZE_MAX) budget = size_t{8} << 30;
  return budget;
}

}  // namespace

size_t Budget() {
  if (size_t forced = g_budget_override.load(std::memory_order_relaxed)) return forced;
  // Limits are read once: the process does not lower them while it runs.
  static const size_t derived = DerivedBudget();
  return derived;
}

void SetBudgetForTesting(size_t bytes) {
  g_budget_override.store(bytes, std::memory_order_relaxed);
}

std::string BudgetText() {
  return std::to_string(Budget() >> 20) + " MiB";
}

std::string NoMemoryNote(const std::bad_alloc& e) {
  if (dynamic_cast<const BudgetExceeded*>(&e)) return "读入后将超过可用的" + BudgetText() + "内存";
  return "系统无法分配更多内存";
}

size_t InUse() {
  return g_in_use.load(std::memory_order_relaxed);
}

bool Charge(size_t bytes) {
  size_t now = g_in_use.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  return now <= Budget();
}

void Release(size_t bytes) {
  g_in_use.fetch_sub(bytes, std::memory_order_relaxed);
}

}  // namespace qm::memory
