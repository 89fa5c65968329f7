// What the core takes from C++20 and Linux that Debian's Emscripten 3.1.6
// lacks: its libc++ 13 has no std::stop_token, std::jthread or
// std::atomic_ref and no from_chars for floating point, and its musl no
// renameat2. The browser build includes this header before every C++ file
// of the core (-include), so that the core's sources stay as they are.
// Each piece does what the core asks of it, no more.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#if !defined(_LIBCPP_VERSION) || _LIBCPP_VERSION >= 17000
#error "these shims are for the libc++ of Emscripten 3.1.6 alone"
#endif

namespace std {

struct nostopstate_t {
  explicit nostopstate_t() = default;
};
inline constexpr nostopstate_t nostopstate{};

// A stop flag shared by a source and its tokens (no callbacks: the core
// polls its token).
class stop_token {
 public:
  stop_token() noexcept = default;
  bool stop_requested() const noexcept { return state_ && state_->load(memory_order_acquire); }
  bool stop_possible() const noexcept { return static_cast<bool>(state_); }

 private:
  friend class stop_source;
  explicit stop_token(shared_ptr<atomic<bool>> state) : state_(std::move(state)) {}
  shared_ptr<atomic<bool>> state_;
};

class stop_source {
 public:
  stop_source() : state_(make_shared<atomic<bool>>(false)) {}
  explicit stop_source(nostopstate_t) noexcept {}
  stop_token get_token() const noexcept { return stop_token(state_); }
  bool stop_requested() const noexcept { return state_ && state_->load(memory_order_acquire); }
  bool request_stop() noexcept { return state_ && !state_->exchange(true, memory_order_acq_rel); }

 private:
  shared_ptr<atomic<bool>> state_;
};

// A thread that is asked to stop and joined when it is destroyed.
class jthread {
 public:
  jthread() noexcept = default;
  template <typename F, typename... Args, typename = enable_if_t<!is_same_v<remove_cvref_t<F>, jthread>>>
  explicit jthread(F&& f, Args&&... args) : source_() {
    if constexpr (is_invocable_v<decay_t<F>, stop_token, decay_t<Args>...>) {
      thread_ = thread(std::forward<F>(f), source_.get_token(), std::forward<Args>(args)...);
    } else {
      thread_ = thread(std::forward<F>(f), std::forward<Args>(args)...);
    }
  }
  jthread(jthread&&) noexcept = default;
  jthread& operator=(jthread&& other) noexcept {
    Finish();
    thread_ = std::move(other.thread_);
    source_ = std::move(other.source_);
    return *this;
  }
  ~jthread() { Finish(); }

  bool joinable() const noexcept { return thread_.joinable(); }
  void join() { thread_.join(); }
  bool request_stop() noexcept { return source_.request_stop(); }
  stop_token get_stop_token() const noexcept { return source_.get_token(); }

 private:
  void Finish() {
    if (thread_.joinable()) {
      source_.request_stop();
      thread_.join();
    }
  }
  stop_source source_{nostopstate};
  thread thread_;
};

// Atomic access to a plain object, through the compiler's builtins.
template <typename T>
class atomic_ref {
  static_assert(is_trivially_copyable_v<T> && is_integral_v<T>, "integers only");

 public:
  explicit atomic_ref(T& object) noexcept : object_(&object) {}
  T load(memory_order order = memory_order_seq_cst) const noexcept {
    return __atomic_load_n(object_, static_cast<int>(order));
  }
  void store(T value, memory_order order = memory_order_seq_cst) const noexcept {
    __atomic_store_n(object_, value, static_cast<int>(order));
  }

 private:
  T* object_;
};

// from_chars of a decimal number, with an optional sign, digits and an
// optional fraction (chars_format::fixed; the other formats are not asked
// for), through strtod on a copy of just those characters.
inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format format = chars_format::general) {
  if (format != chars_format::fixed) return {first, errc::invalid_argument};
  const char* end = first;
  if (end != last && *end == '-') ++end;
  const char* digits = end;
  while (end != last && *end >= '0' && *end <= '9') ++end;
  bool any = end != digits;
  if (end != last && *end == '.') {
    const char* fraction = ++end;
    while (end != last && *end >= '0' && *end <= '9') ++end;
    any = any || end != fraction;
    if (!any) end = fraction - 1;
  }
  if (!any) return {first, errc::invalid_argument};
  const string text(first, end);
  errno = 0;
  const double parsed = strtod(text.c_str(), nullptr);
  if (errno == ERANGE) return {end, errc::result_out_of_range};
  value = parsed;
  return {end, errc{}};
}

}  // namespace std

// renameat2 with RENAME_NOREPLACE alone: the in-memory file system of the
// page belongs to one process, whose job never renames onto a name that
// another of its threads creates meanwhile, so a check before the rename
// keeps the rule.
#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE 1
inline int renameat2(int oldFolder, const char* oldName, int newFolder, const char* newName, unsigned flags) {
  if (flags & ~unsigned{RENAME_NOREPLACE}) {
    errno = EINVAL;
    return -1;
  }
  if ((flags & RENAME_NOREPLACE) != 0 && ::faccessat(newFolder, newName, F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::renameat(oldFolder, oldName, newFolder, newName);
}
#endif
