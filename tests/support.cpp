#include "support.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tools/common/bytes.h"

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
  std::string cp932;
  if (!ConvertText(utf8, "UTF-8", "CP932", &cp932)) ADD_FAILURE() << "cannot convert to CP932: " << utf8;
  return cp932;
}

const char RECORD_KEY[] = "Software\\Lanternfly\\luminario";
const char* const UPDATE_NAMES[3] = {"patch110.dat", "InstData.pak", "Archive.ini"};
const char TITLE_TEXT[] = "ルミナリオ！ アップデート Ver1.10";
const char NOT_INSTALLED_TEXT[] =
    "ルミナリオ！がインストールされていません。インストールが終了してから再度アップデートを行って下さいませ。";
const char QUESTION_TEXT[] = "既にこのバージョンのアップデートは終了しています。\n上書きアップデートしますか？";
const char REGISTRY_ERROR_TEXT[] = "レジストリエラー";
const char COMPLETION_TEXT[] = "更新は完了しました。";
const char FAILURE_TEXT[] =
    "更新ファイル書き込みに失敗しました。ゲームが起動されている場合は、終了してから再度実行して下さい。";
const char ERROR_CAPTION_TEXT[] = "エラー";

std::string WriteErrorText(const char* name) {
  return Cp932("ファイルが書き込めません。[") + name + "]";
}

std::string BoxCodes() {
  struct Known {
    char code;
    std::string text;
    const char* caption;
    UINT type;
    bool driver;  // the driver's own boxes have no owner
  };
  std::vector<Known> known = {
      {'N', Cp932(NOT_INSTALLED_TEXT), TITLE_TEXT, MB_OK, true},
      {'Q', Cp932(QUESTION_TEXT), TITLE_TEXT, MB_OKCANCEL, true},
      {'R', Cp932(REGISTRY_ERROR_TEXT), TITLE_TEXT, MB_OK, true},
      {'C', Cp932(COMPLETION_TEXT), TITLE_TEXT, MB_OK, false},
      {'F', Cp932(FAILURE_TEXT), TITLE_TEXT, MB_OK, false},
  };
  for (const char* name : UPDATE_NAMES) known.push_back({'E', WriteErrorText(name), ERROR_CAPTION_TEXT, MB_OK, false});
  std::string codes;
  for (const HostBox& box : HostBoxes()) {
    const Known* match = nullptr;
    for (const Known& each : known) {
      if (box.text == each.text) match = &each;
    }
    if (match == nullptr) {
      ADD_FAILURE() << "a box no one expects: " << box.text;
      codes += '?';
      continue;
    }
    EXPECT_EQ(box.caption, Cp932(match->caption)) << match->code;
    EXPECT_EQ(box.type, match->type) << match->code;
    if (match->driver) {
      EXPECT_EQ(box.owner, nullptr) << match->code;
    } else if (HostDialogRuns().empty()) {
      ADD_FAILURE() << match->code << ": shown with no dialog";
    } else {
      EXPECT_EQ(box.owner, HostDialogRuns().back().window) << match->code << ": owned by the dialog";
    }
    codes += match->code;
  }
  return codes;
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
