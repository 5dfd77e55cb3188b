// Processes and threads: the pseudo handles and ids of the current process
// and thread, and their priorities as Windows gives them (priority classes
// and thread priorities), mapped onto per-thread nice values. Relies on
// setpriority(2) and /proc/self/task to reach every thread of the process.
#include <ztlogger/platform/os/Processes.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace {

const HANDLE currentProcessHandle = reinterpret_cast<HANDLE>(intptr_t{-1});
const HANDLE currentThreadHandle = reinterpret_cast<HANDLE>(intptr_t{-2});

constexpr int kNiceLowest = 19;
constexpr int kNiceHighest = -20;

struct TClassNice {
  DWORD PriorityClass;
  int Nice;
};
// Realtime maps to the strongest nice value, not to a real-time scheduling
// policy: a busy thread under SCHED_FIFO can starve the whole machine.
constexpr TClassNice kClassNice[] = {
    {IDLE_PRIORITY_CLASS, 19},         {BELOW_NORMAL_PRIORITY_CLASS, 10}, {NORMAL_PRIORITY_CLASS, 0},
    {ABOVE_NORMAL_PRIORITY_CLASS, -5}, {HIGH_PRIORITY_CLASS, -10},        {REALTIME_PRIORITY_CLASS, -20},
};

bool NiceOfClass(DWORD priorityClass, int& nice) {
  for (const TClassNice& entry : kClassNice)
    if (entry.PriorityClass == priorityClass) {
      nice = entry.Nice;
      return true;
    }
  return false;
}

DWORD ClassOfNice(int nice) {
  const TClassNice* best = &kClassNice[2];
  for (const TClassNice& entry : kClassNice)
    if (std::abs(entry.Nice - nice) < std::abs(best->Nice - nice)) best = &entry;
  return best->PriorityClass;
}

bool IsThreadPriority(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL: return true;
    default: return false;
  }
}

// The nice value of a thread of the given priority in a class of the given
// nice value: idle and time-critical are the ends of the range, as they are
// on Windows within a class; the steps in between are two nice values each.
int ThreadNice(int classNice, int priority) {
  if (priority == THREAD_PRIORITY_IDLE) return kNiceLowest;
  if (priority == THREAD_PRIORITY_TIME_CRITICAL) return kNiceHighest;
  return std::clamp(classNice - 2 * priority, kNiceHighest, kNiceLowest);
}

pid_t CurrentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// The process's class and each thread's priority, as granted so far. Linux
// keeps nice values per thread, so a class change is applied to every thread
// with its own priority.
class TPriorities {
 public:
  DWORD PriorityClass() {
    std::lock_guard lock(mutex_);
    return ClassLocked();
  }

  void SetPriorityClass(DWORD priorityClass, int classNice) {
    std::lock_guard lock(mutex_);
    const pid_t self = CurrentTid();
    if (!Apply(self, ThreadNice(classNice, PriorityLocked(self)))) return;
    priorityClass_ = priorityClass;
    for (pid_t tid : OtherThreads(self)) Apply(tid, ThreadNice(classNice, PriorityLocked(tid)));
  }

  int ThreadPriority() {
    std::lock_guard lock(mutex_);
    return PriorityLocked(CurrentTid());
  }

  void SetThreadPriority(int priority) {
    std::lock_guard lock(mutex_);
    const pid_t self = CurrentTid();
    int classNice = 0;
    NiceOfClass(ClassLocked(), classNice);
    if (!Apply(self, ThreadNice(classNice, priority))) return;
    if (priority == THREAD_PRIORITY_NORMAL)
      threadPriorities_.erase(self);
    else
      threadPriorities_[self] = priority;
  }

 private:
  DWORD ClassLocked() {
    if (priorityClass_ == 0) {
      errno = 0;
      const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
      priorityClass_ = errno == 0 ? ClassOfNice(nice) : NORMAL_PRIORITY_CLASS;
    }
    return priorityClass_;
  }

  int PriorityLocked(pid_t tid) const {
    const auto found = threadPriorities_.find(tid);
    return found == threadPriorities_.end() ? THREAD_PRIORITY_NORMAL : found->second;
  }

  // False when the system refuses the change.
  static bool Apply(pid_t tid, int nice) { return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0; }

  // The other threads alive now; forgets the priorities of threads that ended.
  std::vector<pid_t> OtherThreads(pid_t self) {
    std::vector<pid_t> threads;
    if (DIR* tasks = opendir("/proc/self/task")) {
      while (const dirent* entry = readdir(tasks)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (tid > 0 && tid != self) threads.push_back(tid);
      }
      closedir(tasks);
    }
    std::erase_if(threadPriorities_, [&](const auto& item) {
      return item.first != self && std::find(threads.begin(), threads.end(), item.first) == threads.end();
    });
    return threads;
  }

  std::mutex mutex_;
  DWORD priorityClass_ = 0;  // 0: not read yet
  std::map<pid_t, int> threadPriorities_;
};

TPriorities& Priorities() {
  static TPriorities priorities;
  return priorities;
}

}  // namespace

HANDLE GetCurrentProcess() { return currentProcessHandle; }

HANDLE GetCurrentThread() { return currentThreadHandle; }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(CurrentTid()); }

DWORD GetPriorityClass(HANDLE hProcess) {
  if (hProcess != currentProcessHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return Priorities().PriorityClass();
}

BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass) {
  if (hProcess != currentProcessHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  int nice = 0;
  if (!NiceOfClass(dwPriorityClass, nice)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Priorities().SetPriorityClass(dwPriorityClass, nice);
  return TRUE;
}

int GetThreadPriority(HANDLE hThread) {
  if (hThread != currentThreadHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return Priorities().ThreadPriority();
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
  if (hThread != currentThreadHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!IsThreadPriority(nPriority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Priorities().SetThreadPriority(nPriority);
  return TRUE;
}
