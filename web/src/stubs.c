/* The browser's file system has no extended attributes: the saves of the page never ask for one,
   but the core's file layer refers to them. */
#include <errno.h>
#include <sys/types.h>

ssize_t flistxattr(int fd, char* list, size_t size) { (void)fd; (void)list; (void)size; errno = ENOTSUP; return -1; }
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
  (void)fd; (void)name; (void)value; (void)size; errno = ENOTSUP; return -1;
}
int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  (void)fd; (void)name; (void)value; (void)size; (void)flags; errno = ENOTSUP; return -1;
}
int fremovexattr(int fd, const char* name) { (void)fd; (void)name; errno = ENOTSUP; return -1; }

/* The C library of the browser build has getentropy (the browser's crypto.getRandomValues) but no
   getrandom; the page puts its own random source in place, so this only stands by. */
#include <sys/random.h>
#include <unistd.h>

ssize_t getrandom(void* buffer, size_t size, unsigned flags) {
  (void)flags;
  unsigned char* out = buffer;
  for (size_t done = 0; done < size; done += 256) {
    const size_t n = size - done < 256 ? size - done : 256;
    if (getentropy(out + done, n) != 0) return -1;
  }
  return (ssize_t)size;
}
