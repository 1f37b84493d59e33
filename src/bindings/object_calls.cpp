#include "bindings/object_calls.hpp"

#include <pthread.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace vemo::bindings {

namespace {

constexpr char kCalledAgain[] =
    ": called again from a callback (log or report writer) while a call on the same object runs in this "
    "thread; call it after that call returns";
constexpr char kWaitsForThisThread[] =
    ": the call would wait forever: the call running on this object waits, from a callback (log or report "
    "writer), for an object that this thread is in a call on";
constexpr char kInterruptedByFork[] =
    ": another thread was in a call on this object when this process was forked, and that call never ends "
    "here; use the object in the parent, or start processes with the 'spawn' method";

struct ObjectState {
  std::thread::id running;  // no thread: nobody runs a call on the object
  int waiters = 0;
  std::condition_variable released;
};

// Objects appear here while a call runs on them or waits for them, so an address is never
// taken for an earlier object's: the running call keeps its object alive.
struct Registry {
  std::mutex mutex;  // held for bookkeeping only, never while waiting
  std::unordered_map<const void*, std::unique_ptr<ObjectState>> objects;
  std::unordered_map<std::thread::id, const void*> waiting_for;
  // In a forked child: objects whose parent thread was in a call at the fork. Python never
  // releases what that thread's frames held, so these objects live on and keep their address.
  std::unordered_set<const void*> interrupted;
};

Registry*& currentRegistry();

void lockBeforeFork() { currentRegistry()->mutex.lock(); }
void unlockInParent() { currentRegistry()->mutex.unlock(); }

// The child has only the thread that forked. The old registry is left allocated and locked:
// its condition variables may count waiters that the child does not have.
void renewInChild() {
  const Registry& old = *currentRegistry();
  auto* fresh = new Registry;
  fresh->interrupted = old.interrupted;
  const std::thread::id self = std::this_thread::get_id();
  for (const auto& [object, state] : old.objects) {
    if (state->running == self) {
      fresh->objects.emplace(object, std::make_unique<ObjectState>()).first->second->running = self;
    } else if (state->running != std::thread::id()) {
      fresh->interrupted.insert(object);
    }
  }
  currentRegistry() = fresh;
}

Registry*& currentRegistry() {
  static Registry* registry = [] {
    pthread_atfork(lockBeforeFork, unlockInParent, renewInChild);
    return new Registry;
  }();
  return registry;
}

// Whether `thread` is this thread, or waits for an object whose running call's thread is or
// waits for it, and so on. Every wait is checked when it starts, so the chain has no loop.
bool chainReaches(const Registry& registry, std::thread::id thread, std::thread::id self) {
  while (thread != self) {
    const auto waiting = registry.waiting_for.find(thread);
    if (waiting == registry.waiting_for.end()) return false;
    thread = registry.objects.at(waiting->second)->running;
  }
  return true;
}

}  // namespace

ObjectCall::ObjectCall(const void* object, std::string (*class_name)()) : object_(object) {
  const char* refusal = nullptr;
  {
    Registry& registry = *currentRegistry();
    std::unique_lock<std::mutex> lock(registry.mutex);
    const std::thread::id self = std::this_thread::get_id();
    if (registry.interrupted.count(object)) {
      refusal = kInterruptedByFork;
    } else {
      std::unique_ptr<ObjectState>& entry = registry.objects[object];
      if (!entry) entry = std::make_unique<ObjectState>();
      ObjectState& state = *entry;
      ++state.waiters;
      while (state.running != std::thread::id()) {
        if (state.running == self) {
          refusal = kCalledAgain;
          break;
        }
        if (chainReaches(registry, state.running, self)) {
          refusal = kWaitsForThisThread;
          break;
        }
        registry.waiting_for[self] = object;
        state.released.wait(lock);
        registry.waiting_for.erase(self);
      }
      --state.waiters;
      // A refused call leaves the object to the call that runs on it.
      if (!refusal) state.running = self;
    }
  }
  // Outside the registry's lock: the name may need the interpreter lock.
  if (refusal) throw std::runtime_error(class_name() + refusal);
}

ObjectCall::~ObjectCall() {
  Registry& registry = *currentRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  const auto entry = registry.objects.find(object_);
  ObjectState& state = *entry->second;
  state.running = std::thread::id();
  if (state.waiters == 0) {
    registry.objects.erase(entry);
  } else {
    state.released.notify_all();
  }
}

}  // namespace vemo::bindings
