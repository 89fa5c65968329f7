/* Preloaded into a program (LD_PRELOAD) to refuse exactly one allocation:
 * the Nth malloc, calloc, realloc or aligned allocation made after main()
 * starts, N from RZT2_REFUSE_ALLOCATION. When it refuses, it creates the
 * file RZT2_REFUSE_MARK, so a driver can tell a run that reached its Nth
 * allocation from one that made fewer. Not for sanitizer builds, whose
 * runtime owns malloc. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);

static atomic_long countdown = 0; /* 0: not armed */
static const char* mark = NULL;

static int Refuse(void) {
  if (atomic_load_explicit(&countdown, memory_order_relaxed) <= 0) return 0;
  if (atomic_fetch_sub(&countdown, 1) != 1) return 0;
  if (mark != NULL) {
    const int fd = open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
  }
  return 1;
}

void* malloc(size_t size) {
  if (Refuse()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  if (Refuse()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
  if (Refuse()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size) {
  if (Refuse()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
  void* block = memalign(alignment, size);
  if (block == NULL) return ENOMEM;
  *out = block;
  return 0;
}

typedef int (*MainFunction)(int, char**, char**);
static MainFunction realMain;

static int ArmedMain(int argc, char** argv, char** envp) {
  const char* n = getenv("RZT2_REFUSE_ALLOCATION");
  mark = getenv("RZT2_REFUSE_MARK");
  if (n != NULL) atomic_store(&countdown, atol(n));
  return realMain(argc, argv, envp);
}

/* Counting starts with main(), past the loader's and libc's own start. */
int __libc_start_main(MainFunction main, int argc, char** argv, void (*init)(void), void (*fini)(void),
                      void (*rtldFini)(void), void* stackEnd) {
  typedef int (*StartFunction)(MainFunction, int, char**, void (*)(void), void (*)(void), void (*)(void), void*);
  const StartFunction next = (StartFunction)dlsym(RTLD_NEXT, "__libc_start_main");
  realMain = main;
  return next(ArmedMain, argc, argv, init, fini, rtldFini, stackEnd);
}
