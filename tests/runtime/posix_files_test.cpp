// PosixFileServices on the real file system: what a save does to whatever the path names,
// and names of any bytes. Cases that need root (device nodes, other owners, acting as another
// user, mounting a small disk) skip with the reason when that is not possible.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "names_of_any_bytes.h"
#include "printers.h"
#include "runtime/byte_ops.h"
#include "runtime/file_services.h"
#include "runtime/gbk.h"
#include "zeros.h"

namespace kerbilo {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr const char* kNeedsRoot = "needs root to make devices, give files away or act as nobody";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

struct stat lstatOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) st.st_mode = 0;
    return st;
}

// The names in a folder, as the file system has them.
std::set<std::string> entries(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(d);
    }
    return names;
}

std::string reasonOf(const FileServices& files) {
    return gbkToUtf8(files.lastError());
}

// Writes through a fresh PosixFileServices and says what went wrong, empty when the write
// went as expected: success, or failure for the reason given.
std::string tryWrite(const std::string& path, const ByteBuffer& data,
                     const char* expectedReason = nullptr) {
    PosixFileServices files(utf8ToGbk("/tmp"));
    const bool ok = files.writeWholeFile(utf8ToGbk(path), data);
    if (!expectedReason) return ok ? "" : "failed: " + reasonOf(files);
    if (ok) return "reported success";
    return reasonOf(files) == expectedReason ? "" : "reason: " + reasonOf(files);
}

// Runs body in a child process, as the user nobody when asked, and returns what body
// returned (what went wrong, empty when all was as expected). A child that hangs is ended
// by an alarm.
std::string inChild(const std::function<std::string()>& body, bool asNobody = false) {
    int out[2];
    if (pipe(out) != 0) return "no pipe";
    const pid_t pid = fork();
    if (pid < 0) return "no fork";
    if (pid == 0) {
        close(out[0]);
        alarm(20);
        const bool became = !asNobody || (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
                                          setuid(kNobody) == 0);
        const std::string said = became ? body() : "could not become nobody";
        (void)!::write(out[1], said.data(), said.size());
        _exit(0);
    }
    close(out[1]);
    std::string said;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) said.append(buf, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        said += " (child ended by signal " + std::to_string(WTERMSIG(status)) + ")";
    return said;
}

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A fresh folder under /tmp that every user may enter.
class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kerbilo-write-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        chmod(dir.c_str(), 0755);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string p(const std::string& name) const { return dir + "/" + name; }
    bool write(const std::string& path, std::string_view content) {
        return files.writeWholeFile(utf8ToGbk(path), ByteBuffer::fromText(content));
    }
    std::string reason() const { return reasonOf(files); }

    std::string dir;
    PosixFileServices files{utf8ToGbk("/tmp")};
};

// ---- what is not a plain file is written where it is ----------------------------------

class WritesInPlace : public TempFolder {};

TEST_F(WritesInPlace, CharacterDevices) {
    if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
    const struct {
        const char* name;
        unsigned minor;
        const char* failure;  // nullptr: the write succeeds
    } cases[] = {
        {"null", 3, nullptr},         // like /dev/null
        {"full", 7, "磁盘空间不足"},  // like /dev/full, which takes no byte
    };
    for (const auto& c : cases) {
        const std::string node = p(c.name);
        if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, c.minor)) != 0)
            GTEST_SKIP() << "cannot make device nodes here: " << std::strerror(errno);
        const int probe = open(node.c_str(), O_WRONLY);
        if (probe < 0)
            GTEST_SKIP() << "device nodes cannot be opened here: " << std::strerror(errno);
        close(probe);
        EXPECT_EQ(tryWrite(node, ByteBuffer::fromText(std::string(300, 'x')), c.failure), "")
            << c.name;
        const struct stat st = lstatOf(node);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << c.name << " is no longer a device";
        EXPECT_EQ(st.st_rdev, makedev(1, c.minor)) << c.name;
    }
    EXPECT_EQ(entries(dir), (std::set<std::string>{"null", "full"}));
}

// A disk image on a loop device stands for a disk: it takes the bytes at its start and keeps
// its size.
TEST_F(WritesInPlace, BlockDevices) {
    if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
    const std::string image = p("disk.img");
    put(image, std::string(1 << 20, '\0'));
    std::string loop;
    if (FILE* f = popen(("losetup -f --show " + image + " 2>/dev/null").c_str(), "r")) {
        char line[128] = {};
        if (fgets(line, sizeof line, f)) loop = line;
        pclose(f);
    }
    if (loop.rfind("/dev/loop", 0) != 0) GTEST_SKIP() << "no loop device can be set up here";
    loop.pop_back();  // the newline
    struct Detach {
        std::string dev;
        ~Detach() { (void)!std::system(("losetup -d " + dev).c_str()); }
    } detach{loop};
    struct stat dev {};
    ASSERT_EQ(stat(loop.c_str(), &dev), 0);
    const std::string node = p("disk");
    ASSERT_EQ(mknod(node.c_str(), S_IFBLK | 0600, dev.st_rdev), 0) << std::strerror(errno);

    EXPECT_TRUE(write(node, "disk label")) << reason();
    EXPECT_TRUE(S_ISBLK(lstatOf(node).st_mode)) << "the disk is no longer a device";
    const std::string content = slurp(image);
    EXPECT_EQ(content.size(), std::size_t{1} << 20);
    EXPECT_EQ(content.substr(0, 10), "disk label");
    EXPECT_EQ(entries(dir), (std::set<std::string>{"disk.img", "disk"}));
}

TEST_F(WritesInPlace, FifoWithReaderGetsTheBytes) {
    const std::string fifo = p("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const bool ok = write(fifo, "through the pipe");  // fits in the pipe's buffer
    char buf[64];
    const ssize_t n = read(reader, buf, sizeof buf);
    close(reader);
    EXPECT_TRUE(ok) << reason();
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "through the pipe");
    EXPECT_TRUE(S_ISFIFO(lstatOf(fifo).st_mode));
    EXPECT_EQ(entries(dir), std::set<std::string>{"fifo"});
}

TEST_F(WritesInPlace, FifoWithoutReaderFailsAtOnce) {
    const std::string fifo = p("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(inChild([&] {
                  return tryWrite(fifo, ByteBuffer::fromText("x"), "管道另一端没有程序在读取");
              }),
              "");
    EXPECT_TRUE(S_ISFIFO(lstatOf(fifo).st_mode));
    EXPECT_EQ(entries(dir), std::set<std::string>{"fifo"});
}

// The reader stops after one byte: the write fails with a reason instead of the program
// being ended by SIGPIPE.
TEST_F(WritesInPlace, FifoWhoseReaderLeavesFails) {
    const std::string fifo = p("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(inChild([&] {
                  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
                  std::string said;
                  std::thread writer([&] {
                      // More than a pipe holds, so the write is still going when the reader leaves.
                      said = tryWrite(fifo, testing::zeros(1 << 20), "管道另一端的程序已停止读取");
                  });
                  pollfd ready{reader, POLLIN, 0};
                  char c;
                  const bool gotAByte = poll(&ready, 1, 5000) == 1 && read(reader, &c, 1) == 1;
                  close(reader);
                  writer.join();
                  return gotAByte ? said : "the reader got nothing; " + said;
              }),
              "");
    EXPECT_TRUE(S_ISFIFO(lstatOf(fifo).st_mode));
}

TEST_F(WritesInPlace, SocketsAreRefused) {
    const std::string path = p("sock");
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_FALSE(write(path, "x"));
    EXPECT_EQ(reason(), "这是套接字,不能当作文件写入");
    EXPECT_TRUE(S_ISSOCK(lstatOf(path).st_mode));
    EXPECT_EQ(entries(dir), std::set<std::string>{"sock"});
    EXPECT_FALSE(files.tryReadWholeFile(utf8ToGbk(path)));
    EXPECT_EQ(reason(), "不是普通文件(管道、套接字或字符设备)");
    close(sock);
}

// /dev/stdout is a link to /proc/self/fd/1: the output goes to whatever that open file is, a
// pipe to another program or a file the shell redirected to, and the link stays.
TEST_F(WritesInPlace, LinksToOpenFiles) {
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_NONBLOCK), 0);
    ASSERT_EQ(
        symlink(("/proc/self/fd/" + std::to_string(pipeFds[1])).c_str(), p("to-pipe").c_str()), 0);
    EXPECT_TRUE(write(p("to-pipe"), "to the pipe")) << reason();
    char buf[64];
    ssize_t n = read(pipeFds[0], buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "to the pipe");
    close(pipeFds[0]);
    close(pipeFds[1]);

    // Its folder is unknown: the old bytes are kept in the temporary folder meanwhile.
    ASSERT_EQ(mkdir(p("tmp").c_str(), 0700), 0);
    ScopedEnv tmpdir("TMPDIR", p("tmp"));
    put(p("captured"), "what was there before");
    const int out = open(p("captured").c_str(), O_RDWR);
    ASSERT_GE(out, 0);
    ASSERT_EQ(symlink(("/proc/self/fd/" + std::to_string(out)).c_str(), p("to-file").c_str()), 0);
    EXPECT_TRUE(write(p("to-file"), "new")) << reason();
    n = pread(out, buf, sizeof buf, 0);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "new")
        << "the open file did not get the bytes";
    close(out);

    EXPECT_TRUE(S_ISLNK(lstatOf(p("to-pipe")).st_mode));
    EXPECT_TRUE(S_ISLNK(lstatOf(p("to-file")).st_mode));
    EXPECT_EQ(entries(dir), (std::set<std::string>{"to-pipe", "to-file", "captured", "tmp"}));
    EXPECT_TRUE(entries(p("tmp")).empty()) << "the copy of the old bytes was left behind";
}

TEST_F(WritesInPlace, FilesWithSeveralLinks) {
    put(p("a"), "old bytes");
    ASSERT_EQ(link(p("a").c_str(), p("b").c_str()), 0);
    const ino_t ino = lstatOf(p("a")).st_ino;
    for (const char* content : {"new bytes, longer than the old", "short", ""}) {
        EXPECT_TRUE(write(p("a"), content)) << reason();
        EXPECT_EQ(slurp(p("b")), content) << "the other link kept the old bytes";
        EXPECT_EQ(lstatOf(p("a")).st_ino, ino);
        EXPECT_EQ(lstatOf(p("a")).st_nlink, 2u);
    }
    EXPECT_EQ(entries(dir), (std::set<std::string>{"a", "b"})) << "a copy was left behind";
}

// An access list gives others rights that a new file would not have.
TEST_F(WritesInPlace, FilesWithAnAccessList) {
    const std::string path = p("shared");
    put(path, "old");
    chmod(path.c_str(), 0640);
    // user::rw- user:nobody:rw- group::r-- mask::rw- other::---, little-endian.
    std::string acl;
    auto le = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) acl += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    le(2, 4);  // version
    const std::uint32_t none = 0xFFFFFFFF;
    for (const auto& [tag, perm, id] :
         {std::tuple{0x01u, 6u, none}, std::tuple{0x02u, 6u, kNobody}, std::tuple{0x04u, 4u, none},
          std::tuple{0x10u, 6u, none}, std::tuple{0x20u, 0u, none}}) {
        le(tag, 2);
        le(perm, 2);
        le(id, 4);
    }
    if (setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "no access lists on this file system: " << std::strerror(errno);
    EXPECT_TRUE(write(path, "new")) << reason();
    EXPECT_EQ(slurp(path), "new");
    EXPECT_EQ(getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0),
              static_cast<ssize_t>(acl.size()))
        << "the access list was lost";
}

// ---- links are followed -----------------------------------------------------------------

class WritesThroughLinks : public TempFolder {};

TEST_F(WritesThroughLinks, DanglingLinksCreateWhatTheyName) {
    ASSERT_EQ(mkdir(p("sub").c_str(), 0755), 0);
    const struct {
        std::vector<std::pair<std::string, std::string>> links;  // name, what it names
        std::string created;                                     // empty: the write fails
    } cases[] = {
        {{{"plain", "made.bin"}}, "made.bin"},
        {{{"chain", "middle"}, {"middle", "sub/deep.bin"}}, "sub/deep.bin"},
        {{{"absolute", "ABS"}}, "absolute.bin"},
        {{{"nowhere", "missing/x.bin"}}, ""},
    };
    const mode_t mask = umask(022);
    for (const auto& c : cases) {
        for (const auto& [name, to] : c.links) {
            const std::string target = to == "ABS" ? p("absolute.bin") : to;
            ASSERT_EQ(symlink(target.c_str(), p(name).c_str()), 0);
        }
        const std::string given = p(c.links.front().first);
        if (c.created.empty()) {
            EXPECT_FALSE(write(given, "content"));
            EXPECT_EQ(reason(), "文件或文件夹不存在");
        } else {
            EXPECT_TRUE(write(given, "content")) << given << ": " << reason();
            EXPECT_EQ(slurp(p(c.created)), "content") << given;
            EXPECT_EQ(lstatOf(p(c.created)).st_mode & 07777, 0644u) << given;
        }
        for (const auto& link : c.links)
            EXPECT_TRUE(S_ISLNK(lstatOf(p(link.first)).st_mode)) << link.first << " was replaced";
    }
    umask(mask);
    EXPECT_FALSE(fs::exists(p("missing")));
    EXPECT_EQ(entries(p("sub")), std::set<std::string>{"deep.bin"});
}

// ---- a replaced file is the file it was --------------------------------------------------

class ReplacedFiles : public TempFolder {};

TEST_F(ReplacedFiles, KeepModeOwnerAndGroup) {
    if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
    const struct {
        mode_t mode;
        uid_t uid;
        gid_t gid;
    } cases[] = {
        {0640, kNobody, kNobody},  // another user's file
        {0444, 0, 0},              // read-only: root may write it, as the shell lets it
        {02750, kNobody, 0},       // set-group-id
        {04755, 1234, 4321},       // set-user-id, owner and group with no name
    };
    for (const auto& c : cases) {
        const std::string path = p("f" + std::to_string(c.mode));
        put(path, "old");
        ASSERT_EQ(chown(path.c_str(), c.uid, c.gid), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        EXPECT_TRUE(write(path, "new")) << reason();
        const struct stat st = lstatOf(path);
        EXPECT_EQ(st.st_mode & 07777, c.mode) << std::oct << c.mode;
        EXPECT_EQ(st.st_uid, c.uid) << std::oct << c.mode;
        EXPECT_EQ(st.st_gid, c.gid) << std::oct << c.mode;
        EXPECT_EQ(slurp(path), "new");
    }
    EXPECT_EQ(entries(dir).size(), std::size(cases)) << "a temporary file was left behind";
}

TEST_F(ReplacedFiles, NewFilesTakeTheUmask) {
    const struct {
        mode_t mask, mode;
    } cases[] = {{022, 0644}, {077, 0600}, {027, 0640}, {0, 0666}};
    for (const auto& c : cases) {
        const std::string path = p("new" + std::to_string(c.mask));
        const mode_t before = umask(c.mask);
        const bool ok = write(path, "x");
        umask(before);
        EXPECT_TRUE(ok) << reason();
        EXPECT_EQ(lstatOf(path).st_mode & 07777, c.mode) << std::oct << c.mask;
    }
}

// The temporary and backup names are short, so a name as long as the file system allows can
// be created, replaced and written in place.
TEST_F(ReplacedFiles, NamesAsLongAsTheFileSystemAllows) {
    const std::string name(255, 'L');
    EXPECT_TRUE(write(p(name), "first")) << reason();
    EXPECT_TRUE(write(p(name), "second")) << reason();
    EXPECT_EQ(slurp(p(name)), "second");
    ASSERT_EQ(link(p(name).c_str(), p("twin").c_str()), 0);
    EXPECT_TRUE(write(p(name), "third")) << reason();
    EXPECT_EQ(slurp(p("twin")), "third");
    EXPECT_EQ(entries(dir), (std::set<std::string>{name, "twin"}));
}

// ---- a normal user gets what the shell would give them ----------------------------------

class WritesAsAUser : public TempFolder {
  protected:
    void SetUp() override {
        TempFolder::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
    }
    // A file of nobody's in the test folder.
    std::string nobodysFile(const std::string& name, const std::string& content, mode_t mode,
                            gid_t gid = kNobody) {
        const std::string path = p(name);
        put(path, content);
        EXPECT_EQ(chown(path.c_str(), kNobody, gid), 0);
        EXPECT_EQ(chmod(path.c_str(), mode), 0);
        return path;
    }
};

TEST_F(WritesAsAUser, ReadOnlyFileIsRefused) {
    chmod(dir.c_str(), 0777);  // only the file's own mode stands in the way
    const std::string path = nobodysFile("ro", "keep", 0444);
    EXPECT_EQ(
        inChild([&] { return tryWrite(path, ByteBuffer::fromText("x"), "没有访问权限"); }, true),
        "");
    EXPECT_EQ(slurp(path), "keep");
    EXPECT_EQ(lstatOf(path).st_mode & 07777, 0444u);
    EXPECT_EQ(entries(dir), std::set<std::string>{"ro"});
}

// The folder is root's: the file is written in place, its old bytes kept meanwhile in the
// temporary folder, which is left empty.
TEST_F(WritesAsAUser, WritableFileInAFolderThatIsNot) {
    const std::string path = nobodysFile("note", "old content", 0644);
    const std::string tmp = p("tmp");
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    ASSERT_EQ(chown(tmp.c_str(), kNobody, kNobody), 0);
    const ino_t ino = lstatOf(path).st_ino;
    EXPECT_EQ(inChild(
                  [&] {
                      setenv("TMPDIR", tmp.c_str(), 1);
                      return tryWrite(path,
                                      ByteBuffer::fromText("new content, longer than the old"));
                  },
                  true),
              "");
    EXPECT_EQ(slurp(path), "new content, longer than the old");
    EXPECT_EQ(lstatOf(path).st_ino, ino);
    EXPECT_EQ(entries(dir), (std::set<std::string>{"note", "tmp"}));
    EXPECT_TRUE(entries(tmp).empty()) << "the copy of the old bytes was left behind";
}

// nobody owns the file but is not in its group: a new file could not be given that group, so
// the file is written in place and keeps it.
TEST_F(WritesAsAUser, GroupThatCannotBeGiven) {
    chmod(dir.c_str(), 0777);
    const std::string path = nobodysFile("team", "old", 0664, 0);
    EXPECT_EQ(inChild([&] { return tryWrite(path, ByteBuffer::fromText("new")); }, true), "");
    const struct stat st = lstatOf(path);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, 0u) << "the file lost its group";
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(slurp(path), "new");
    EXPECT_EQ(entries(dir), std::set<std::string>{"team"});
}

// A file that must be written in place but whose old bytes cannot be read cannot be backed
// up: it is refused rather than put at risk.
TEST_F(WritesAsAUser, WriteOnlyFileThatCannotBeBackedUp) {
    chmod(dir.c_str(), 0777);
    const std::string path = nobodysFile("wo", "precious", 0200);
    ASSERT_EQ(link(path.c_str(), p("twin").c_str()), 0);
    EXPECT_EQ(inChild(
                  [&] {
                      return tryWrite(path, ByteBuffer::fromText("x"),
                                      "无法先保留原内容的副本: 没有访问权限");
                  },
                  true),
              "");
    EXPECT_EQ(slurp(path), "precious");
    EXPECT_EQ(entries(dir), (std::set<std::string>{"wo", "twin"}));
}

// ---- a failed write leaves the old content --------------------------------------------

class FailedWrites : public TempFolder {};

TEST_F(FailedWrites, FullDisk) {
    if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
    const std::string disk = p("disk");
    const std::string tmp = p("tmp");
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    if (mount("tmpfs", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small disk here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{disk};
    ScopedEnv tmpdir("TMPDIR", tmp);  // where the old bytes go when the disk has no room

    const std::string old(8192, 'o');
    for (const bool linked : {false, true}) {  // replaced by rename, or written in place
        const std::string path = disk + "/old";
        put(path, old);
        if (linked) {
            ASSERT_EQ(link(path.c_str(), (disk + "/twin").c_str()), 0);
        }
        const int filler = open((disk + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string page(4096, 'f');
        while (::write(filler, page.data(), page.size()) > 0) {
        }
        close(filler);

        EXPECT_FALSE(write(path, std::string(32768, 'n'))) << linked;
        EXPECT_EQ(reason(), "磁盘空间不足") << linked;
        EXPECT_EQ(slurp(path), old) << linked;
        std::set<std::string> names{"old", "filler"};
        if (linked) {
            EXPECT_EQ(slurp(disk + "/twin"), old);
            names.insert("twin");
        }
        EXPECT_EQ(entries(disk), names) << linked;
        EXPECT_TRUE(entries(tmp).empty()) << linked;
        for (const std::string& name : names) unlink((disk + "/" + name).c_str());
    }
}

// The in-place write fails half way at the file-size limit; the old bytes are put back.
TEST_F(FailedWrites, FileSizeLimitWhileWritingInPlace) {
    const std::string path = p("keep.bin");
    put(path, "original content");
    ASSERT_EQ(link(path.c_str(), p("twin").c_str()), 0);
    EXPECT_EQ(inChild([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  rlimit lim{4096, 4096};
                  setrlimit(RLIMIT_FSIZE, &lim);
                  return tryWrite(path, testing::zeros(1 << 20), "文件过大");
              }),
              "");
    EXPECT_EQ(slurp(path), "original content");
    EXPECT_EQ(lstatOf(path).st_size, 16);
    EXPECT_EQ(entries(dir), (std::set<std::string>{"keep.bin", "twin"}));
}

// ---- files that get their name only when complete ----------------------------------------

class TemporaryFiles : public TempFolder {};

// A run killed in the instant between naming its complete file and renaming it over the old
// one leaves a temporary of its own. A later write into that folder removes it, and nothing
// that may be another's or still in use.
TEST_F(TemporaryFiles, OnlyStaleOnesOfEndedRunsAreRemoved) {
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    const pid_t alive = fork();
    if (alive == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(alive, 0);
    const std::string gone = std::to_string(ended);
    const struct {
        std::string name;
        bool locked;   // a process holds its lock
        bool nobodys;  // another user's (only when root can make one)
        bool stays;
    } cases[] = {
        {".kerbilo-" + gone + "-Ab3dE6.tmp", false, false, false},
        {".kerbilo-" + gone + "-Lock3d.tmp", true, false, true},
        {".kerbilo-" + gone + "-Nobody.tmp", false, true, true},
        {".kerbilo-" + std::to_string(alive) + "-Alive1.tmp", false, false, true},
        {".kerbilo-" + std::to_string(getpid()) + "-Mine12.tmp", false, false, true},
        {".kerbilo-" + gone + "-short.tmp", false, false, true},
        {".kerbilo-" + gone + "-Ab3dE6.tmp~", false, false, true},
        {"notes.kerbilo-" + gone + "-Ab3dE6.tmp", false, false, true},
        {".kbAb3dE6", false, false, true},  // unnamed files' forerunners: not clearly ours
    };
    std::set<std::string> expected{"target", ".kerbilo-" + gone + "-Folder.tmp",
                                   ".kerbilo-" + gone + "-Link12.tmp"};
    std::vector<int> held;
    for (const auto& c : cases) {
        if (c.nobodys && geteuid() != 0) continue;
        put(p(c.name), "complete bytes of an earlier run");
        if (c.nobodys) ASSERT_EQ(chown(p(c.name).c_str(), kNobody, kNobody), 0);
        if (c.locked) {
            held.push_back(open(p(c.name).c_str(), O_RDONLY));
            ASSERT_EQ(flock(held.back(), LOCK_EX), 0);
        }
        if (c.stays) expected.insert(c.name);
    }
    ASSERT_EQ(mkdir(p(".kerbilo-" + gone + "-Folder.tmp").c_str(), 0755), 0);
    ASSERT_EQ(symlink("target", p(".kerbilo-" + gone + "-Link12.tmp").c_str()), 0);
    put(p("target"), "old");

    EXPECT_TRUE(write(p("target"), "new")) << reason();
    EXPECT_EQ(slurp(p("target")), "new");
    EXPECT_EQ(entries(dir), expected);
    for (const int fd : held) close(fd);
    kill(alive, SIGKILL);
    waitpid(alive, nullptr, 0);
}

class StreamedFiles : public TempFolder {};

// A file written piece by piece shows under its name only once finished, and then stands
// there as a whole write would have put it.
TEST_F(StreamedFiles, ShowWhenFinishedAsAWholeWriteWould) {
    std::string content;
    for (int i = 0; content.size() < 700'000; ++i) content += "row " + std::to_string(i) + "\n";
    const std::string large(300'000, 'L');  // passes what is gathered before a write
    const struct {
        const char* what;
        std::function<void(const std::string& path)> make;
        const char* written;  // where the bytes end up
        const char* twin;     // another name that must see them too
        mode_t mode;
    } cases[] = {
        {"new", [](const std::string&) {}, "new", nullptr, 0644},
        {"replaced",
         [](const std::string& path) {
             put(path, "old");
             chmod(path.c_str(), 0640);
         },
         "replaced", nullptr, 0640},
        {"linked",
         [this](const std::string& path) {
             put(path, "old");
             ASSERT_EQ(link(path.c_str(), p("linked-twin").c_str()), 0);
         },
         "linked", "linked-twin", 0644},
        {"dangling", [this](const std::string& path) { symlink(p("made").c_str(), path.c_str()); },
         "made", nullptr, 0644},
    };
    const mode_t mask = umask(022);
    for (const auto& c : cases) {
        const std::string path = p(c.what);
        c.make(path);
        const std::set<std::string> before = entries(dir);
        const std::string old = slurp(path);
        std::unique_ptr<FileWriter> writer = files.startFile(utf8ToGbk(path));
        EXPECT_TRUE(writer->write(content.substr(0, 1000)));
        EXPECT_TRUE(writer->write(large));
        EXPECT_TRUE(writer->write(content.substr(1000)));
        EXPECT_EQ(slurp(path), old) << c.what << ": shown before it was finished";
        EXPECT_TRUE(writer->finish()) << c.what << ": " << describeError(writer->failure());
        const std::string whole = content.substr(0, 1000) + large + content.substr(1000);
        EXPECT_EQ(slurp(p(c.written)), whole) << c.what;
        if (c.twin) EXPECT_EQ(slurp(p(c.twin)), whole) << c.what;
        EXPECT_EQ(lstatOf(p(c.written)).st_mode & 07777, c.mode) << c.what;
        std::set<std::string> after = before;
        after.insert(c.written);
        EXPECT_EQ(entries(dir), after) << c.what;
    }
    umask(mask);
    EXPECT_TRUE(S_ISLNK(lstatOf(p("dangling")).st_mode));
}

TEST_F(StreamedFiles, UnfinishedOrFailedLeaveNothing) {
    put(p("kept"), "old");
    {
        std::unique_ptr<FileWriter> dropped = files.startFile(utf8ToGbk(p("dropped")));
        std::unique_ptr<FileWriter> over = files.startFile(utf8ToGbk(p("kept")));
        EXPECT_TRUE(dropped->write(std::string(400'000, 'x')));
        EXPECT_TRUE(over->write("new"));
    }
    std::unique_ptr<FileWriter> nowhere = files.startFile(utf8ToGbk(p("missing/file")));
    EXPECT_TRUE(nowhere->write("x"));
    EXPECT_FALSE(nowhere->finish());
    EXPECT_EQ(gbkToUtf8(describeError(nowhere->failure())), "文件或文件夹不存在");
    EXPECT_EQ(slurp(p("kept")), "old");
    EXPECT_EQ(entries(dir), std::set<std::string>{"kept"});
}

// ---- names of any bytes ------------------------------------------------------------------

class FileNames : public TempFolder {};

TEST_F(FileNames, AnyBytesNameTheSameFile) {
    const std::vector<std::string> names = testing::namesOfAnyBytes();
    ASSERT_EQ(mkdir(p("dirs").c_str(), 0755), 0);
    std::set<std::string> expected{"dirs"};
    for (const std::string& name : names) {
        const Text path = utf8ToGbk(p(name));
        ASSERT_TRUE(files.writeWholeFile(path, ByteBuffer::fromText(name)))
            << ::testing::PrintToString(name) << ": " << reason();
        EXPECT_EQ(slurp(p(name)), name) << "written under another name";
        EXPECT_EQ(files.readWholeFile(path), ByteBuffer::fromText(name));
        EXPECT_TRUE(files.pathExists(path));
        EXPECT_TRUE(files.createDirectory(utf8ToGbk(p("dirs/" + name))));
        EXPECT_TRUE(S_ISDIR(lstatOf(p("dirs/" + name)).st_mode)) << ::testing::PrintToString(name);
        expected.insert(name);
    }
    EXPECT_EQ(entries(dir), expected);
    expected.erase("dirs");
    EXPECT_EQ(entries(p("dirs")), expected);

    // A GBK text that is not valid GBK (from a settings file) names the file of those bytes.
    EXPECT_TRUE(files.writeWholeFile(utf8ToGbk(dir) + "/\x80\xFF", ByteBuffer::fromText("raw")));
    EXPECT_EQ(slurp(p("\x80\xFF")), "raw");
}

}  // namespace
}  // namespace kerbilo
