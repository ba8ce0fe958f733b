/* A test-only stand-in for the Linux sysinfo() call, preloaded into the Wine processes of a
   test run (LD_PRELOAD) so that they see a bigger machine: Wine takes the total physical memory
   from sysinfo() and the available memory from /proc/meminfo, which the run bind-mounts with a
   fake of its own. QB_FAKE_TOTALRAM_MB sets the total; without it the call is left alone.
   Build: gcc -shared -fPIC -o fake_sysinfo.so FakeSysinfo.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/sysinfo.h>

int sysinfo(struct sysinfo* info) {
  static int (*real)(struct sysinfo*) = 0;
  if (!real) real = (int (*)(struct sysinfo*))dlsym(RTLD_NEXT, "sysinfo");
  const int rc = real(info);
  const char* mb = getenv("QB_FAKE_TOTALRAM_MB");
  if (rc == 0 && mb && *mb) {
    info->totalram = strtoul(mb, 0, 10) * 1024ul * 1024ul / (info->mem_unit ? info->mem_unit : 1);
  }
  return rc;
}
