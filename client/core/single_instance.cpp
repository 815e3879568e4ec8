#include "single_instance.hpp"

#include "platform/platform.h"
#include "platform/top_window.h"

namespace lobby {

bool AnotherInstanceRuns(const std::string& title, const std::function<void()>& prepareOwnWindow) {
  int existed = 0;
  const int semaphore = plat_semaphore_create(kSemaphoreName, &existed);
  // Kept open on purpose: the process ending releases it.
  if (semaphore < 0 || existed == 0) return false;
  plat_semaphore_close(semaphore);
  if (prepareOwnWindow) prepareOwnWindow();
  plat_find_top_window(title.c_str(), kHiddenTitle);
  return plat_find_top_window(title.c_str(), nullptr) != 0;
}

}  // namespace lobby
