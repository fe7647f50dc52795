#include "support.h"

#include <dirent.h>
#include <iconv.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0755);
    if (DIR* dir = opendir(path.c_str())) {
      while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") RemoveTree(path + "/" + name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void PutLittle32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

void HostTest::SetUp() {
  HostResetPlatform();
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  previous_ = cwd;
  char pattern[] = "/tmp/updater-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
  ASSERT_EQ(chdir(dir_.c_str()), 0);
}

void HostTest::TearDown() {
  EXPECT_EQ(HostOpenHandles(), 0u) << "handles left open";
  EXPECT_EQ(HostLiveBlocks(), 0u) << "blocks left live";
  HostResetPlatform();
  if (chdir(previous_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << previous_;
  RemoveTree(dir_);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

bool ReadBytes(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *bytes = all.str();
  return true;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void MakeFolder(const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

std::string Cp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv has no CP932";
    return "";
  }
  std::string in = utf8;
  std::string out(in.size() * 2 + 4, '\0');
  char* src = &in[0];
  size_t srcLeft = in.size();
  char* dst = &out[0];
  size_t dstLeft = out.size();
  size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) {
    ADD_FAILURE() << "cannot convert to CP932: " << utf8;
    return "";
  }
  out.resize(out.size() - dstLeft);
  return out;
}

uint32_t NameWidth(uint8_t format) { return format == 0x32 ? 32u : 16u; }

std::string BuildArchive(const ArchiveParts& parts) {
  std::string out = parts.reserved.substr(0, 11);
  out.resize(11, '\0');
  out.push_back(static_cast<char>(parts.format));
  PutLittle32(&out, parts.count == 0xFFFFFFFFu ? static_cast<uint32_t>(parts.entries.size())
                                               : parts.count);
  uint32_t width = NameWidth(parts.format);
  for (const ArchiveEntry& entry : parts.entries) {
    std::string field = entry.name.substr(0, width);
    field.resize(width, '\0');
    out += field;
  }
  for (const ArchiveEntry& entry : parts.entries) {
    PutLittle32(&out, entry.offset);
    PutLittle32(&out, entry.size);
  }
  return out + parts.data;
}

std::string PackFiles(uint8_t format,
                      const std::vector<std::pair<std::string, std::string>>& files) {
  ArchiveParts parts;
  parts.format = format;
  for (const auto& file : files) {
    parts.entries.push_back(ArchiveEntry{file.first, static_cast<uint32_t>(parts.data.size()),
                                         static_cast<uint32_t>(file.second.size())});
    parts.data += file.second;
  }
  return BuildArchive(parts);
}
