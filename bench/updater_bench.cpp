// Benchmarks of the updater's copy and lookup on the host build, each
// against a baseline measured in the same run.  Prints Markdown tables.
//
//   updater_bench [--quick]
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "delivery/apply.h"
#include "delivery/patch_source.h"
#include "tools/common/bytes.h"
#include "platform/host/host_control.h"

namespace {

const char* const NAMES[] = {"patch110.dat", "InstData.pak", "Archive.ini"};

double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

void Die(const char* what) {
  perror(what);
  exit(1);
}

void WriteFileOf(const std::string& path, size_t size, unsigned seed) {
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) Die(path.c_str());
  std::vector<char> chunk(1 << 20);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>((i * 131 + seed) >> 3);
  for (size_t done = 0; done < size;) {
    size_t n = std::min(chunk.size(), size - done);
    if (write(fd, chunk.data(), n) != static_cast<ssize_t>(n)) Die("write");
    done += n;
  }
  close(fd);
}

// The plain copy: read and write in 1 MiB pieces.
void PlainCopy(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY);
  int out = open(to.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (in < 0 || out < 0) Die("plain copy");
  static char buffer[1 << 20];
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0) Die("read");
    if (got == 0) break;
    if (write(out, buffer, static_cast<size_t>(got)) != got) Die("write");
  }
  close(in);
  close(out);
}

// The same copy in the design's shape: each file read whole into one
// fresh buffer, then written with one write.
void WholeFileCopy(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY);
  int out = open(to.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  struct stat st;
  if (in < 0 || out < 0 || fstat(in, &st) != 0) Die("whole-file copy");
  size_t size = static_cast<size_t>(st.st_size);
  char* buffer = static_cast<char*>(malloc(size ? size : 1));
  if (buffer == nullptr) Die("malloc");
  for (size_t done = 0; done < size;) {
    ssize_t got = read(in, buffer + done, size - done);
    if (got <= 0) Die("read");
    done += static_cast<size_t>(got);
  }
  if (write(out, buffer, size) != static_cast<ssize_t>(size)) Die("write");
  free(buffer);
  close(in);
  close(out);
}

long ResidentKib(const char* field) {
  FILE* status = fopen("/proc/self/status", "r");
  char line[256];
  long kib = 0;
  size_t n = strlen(field);
  while (status && fgets(line, sizeof line, status)) {
    if (strncmp(line, field, n) == 0) kib = atol(line + n);
  }
  if (status) fclose(status);
  return kib;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct MemoryUse {
  double seconds;
  unsigned long long peakBlocks;
  long rssGrowthKib;
};

// One applier run in a child process, so that its resident high-water
// mark is its own.
MemoryUse ApplyInChild(bool hugePages) {
  int pipefd[2];
  if (pipe(pipefd) != 0) Die("pipe");
  pid_t child = fork();
  if (child == 0) {
    close(pipefd[0]);
    HostResetPlatform();
    HostUseHugePages(hugePages);
    long before = ResidentKib("VmRSS:");
    double start = Now();
    int result = ApplyUpdateFiles(nullptr, "game");
    MemoryUse use = {Now() - start, HostPeakBlockBytes(), ResidentKib("VmHWM:") - before};
    if (result != 1) use.seconds = -1;
    if (write(pipefd[1], &use, sizeof use) != sizeof use) _exit(1);
    _exit(0);
  }
  close(pipefd[1]);
  MemoryUse use = {};
  if (read(pipefd[0], &use, sizeof use) != sizeof use) Die("child");
  close(pipefd[0]);
  waitpid(child, nullptr, 0);
  if (use.seconds < 0) {
    fprintf(stderr, "the applier failed\n");
    exit(1);
  }
  return use;
}

void BenchApplier(const std::vector<size_t>& mebibytes, int rounds, bool hugePages) {
  printf("\n### The applier: three files of each size, loose sources, %s\n\n",
         hugePages ? "buffers on huge pages" : "buffers on 4 KiB pages");
  printf("| size of each file | applier | plain 1 MiB read/write copy | ratio | whole-file read/write copy | ratio | peak blocks | peak blocks - largest file | RSS growth |\n");
  printf("|---|---|---|---|---|---|---|---|---|\n");
  for (size_t mib : mebibytes) {
    size_t size = mib << 20;
    for (int i = 0; i < 3; ++i) WriteFileOf(NAMES[i], size, static_cast<unsigned>(i));
    std::vector<double> applier, plain, whole;
    MemoryUse use = {};
    // Dirty pages of one phase must not slow the next: each starts after
    // a sync, outside the timing.
    for (int round = 0; round < rounds; ++round) {
      sync();
      use = ApplyInChild(hugePages);
      applier.push_back(use.seconds);
      sync();
      double start = Now();
      for (const char* name : NAMES) PlainCopy(name, std::string("plain/") + name);
      plain.push_back(Now() - start);
      sync();
      start = Now();
      for (const char* name : NAMES) WholeFileCopy(name, std::string("plain/") + name);
      whole.push_back(Now() - start);
    }
    double a = Median(applier), p = Median(plain), w = Median(whole);
    printf("| %zu MiB | %.3f s | %.3f s | %.2f | %.3f s | %.2f | %.1f MiB | %lld bytes | %.1f MiB |\n", mib, a, p, a / p, w, a / w,
           use.peakBlocks / 1048576.0, static_cast<long long>(use.peakBlocks) - static_cast<long long>(size),
           use.rssGrowthKib / 1024.0);
    fflush(stdout);
  }
  for (const char* name : NAMES) {
    unlink(name);
    unlink((std::string("game/") + name).c_str());
    unlink((std::string("plain/") + name).c_str());
  }
}

void BenchLookup(const std::vector<unsigned>& counts, int rounds) {
  printf("\n### The archive lookup: the last entry of N, against one read of the same index\n\n");
  printf("| entries | layout | index bytes | lookup (open, find, close) | one read of the index | ratio |\n");
  printf("|---|---|---|---|---|---|\n");
  for (unsigned count : counts) {
    for (uint8_t format : {static_cast<uint8_t>(0x32), static_cast<uint8_t>(0x31)}) {
      uint32_t width = ArchiveNameWidth(format);
      std::string archive(11, '\0');
      archive.push_back(static_cast<char>(format));
      PutLittle32(&archive, count);
      char name[32];
      for (unsigned i = 0; i < count; ++i) {
        snprintf(name, sizeof name, "f%07u.dat", i);
        std::string field(name);
        field.resize(width, '\0');
        archive += field;
      }
      for (unsigned i = 0; i < count; ++i) {
        PutLittle32(&archive, i);
        PutLittle32(&archive, 1);
      }
      archive += std::string(count, 'd');
      FILE* out = fopen("UpdateData.dat", "wb");
      fwrite(archive.data(), 1, archive.size(), out);
      fclose(out);
      snprintf(name, sizeof name, "f%07u.dat", count - 1);
      size_t indexBytes = 16 + static_cast<size_t>(count) * (width + 8);
      std::vector<char> buffer(indexBytes);
      std::vector<double> lookup, plain;
      for (int round = 0; round < rounds; ++round) {
        HostResetPlatform();
        double start = Now();
        PatchSource* source = OpenPatchSource(name, "UpdateData.dat");
        if (source == nullptr) Die("lookup");
        ClosePatchSource(source);
        lookup.push_back(Now() - start);
        start = Now();
        int fd = open("UpdateData.dat", O_RDONLY);
        if (read(fd, buffer.data(), indexBytes) != static_cast<ssize_t>(indexBytes)) Die("read");
        close(fd);
        plain.push_back(Now() - start);
      }
      double l = Median(lookup), p = Median(plain);
      printf("| %u | %s | %zu | %.3f ms | %.3f ms | %.1f |\n", count, format == 0x32 ? "long" : "short",
             indexBytes, l * 1e3, p * 1e3, l / p);
      fflush(stdout);
    }
  }
  unlink("UpdateData.dat");
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
  char folder[] = "/tmp/updater-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr || chdir(folder) != 0) Die("bench folder");
  mkdir("game", 0755);
  mkdir("plain", 0755);
  printf("updater benchmarks, median of %d rounds, in %s\n", quick ? 1 : 5, folder);
  std::vector<size_t> sizes = quick ? std::vector<size_t>{1, 64} : std::vector<size_t>{1, 64, 512};
  BenchApplier(sizes, quick ? 1 : 5, true);
  BenchApplier(sizes, quick ? 1 : 3, false);
  BenchLookup(quick ? std::vector<unsigned>{1000, 10000} : std::vector<unsigned>{1000, 100000, 1000000},
              quick ? 1 : 5);
  rmdir("game");
  rmdir("plain");
  if (chdir("/") == 0) rmdir(folder);
  return 0;
}
