// The verifier: the reports of what a driver did wrong, and the checks at the end of a run.
#include "kernel.h"

#include <mutex>

#include "kernel_internal.h"

namespace sim {

using namespace kernel_internal;

void Kernel::Report(const std::string& violation) {
  std::lock_guard lock(violationsMutex_);
  violations_.push_back(violation);
}

std::vector<std::string> Kernel::Violations() const {
  std::lock_guard lock(violationsMutex_);
  return violations_;
}

void Kernel::Shutdown() {
  for (auto& worker : workers_)
    if (worker.joinable()) worker.join();
  workers_.clear();
  std::lock_guard lock(mutex_);
  for (const Mapping& mapping : mappings_)
    if (mapping.live)
      Report("mapping of " + Hex(mapping.physical) + " (" + std::to_string(mapping.length) +
             " bytes) never unmapped");
  for (const auto& [lock_, record] : removeLocks_)
    if (!record.holders.empty())
      Report(std::to_string(record.holders.size()) + " remove-lock acquisition(s) never released");
  for (const auto& [object, record] : devices_)
    if (!record->physical && !record->deleted)
      Report("device " + Narrow(record->name) + " never deleted");
}

}  // namespace sim
