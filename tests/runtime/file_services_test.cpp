#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "memory_files.h"
#include "printers.h"
#include "runtime/byte_ops.h"
#include "runtime/file_services.h"
#include "runtime/gbk.h"
#include "zeros.h"

namespace kerbilo {
namespace {

namespace fs = std::filesystem;

// Each implementation gets a fresh root folder it may write into.
struct Fixture {
    virtual ~Fixture() = default;
    virtual FileServices& files() = 0;
    virtual Text root() = 0;
};

struct PosixFixture : Fixture {
    PosixFixture() {
        char tmpl[] = "/tmp/kerbilo-files-XXXXXX";
        dir = mkdtemp(tmpl);
        services = std::make_unique<PosixFileServices>(utf8ToGbk(dir));
    }
    ~PosixFixture() override { fs::remove_all(dir); }
    FileServices& files() override { return *services; }
    Text root() override { return utf8ToGbk(dir); }
    std::string dir;
    std::unique_ptr<PosixFileServices> services;
};

struct MemoryFixture : Fixture {
    MemoryFixture() : services("/root") {}
    FileServices& files() override { return services; }
    Text root() override { return "/root"; }
    testing::MemoryFileServices services;
};

class FileServicesContract : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "posix")
            fx = std::make_unique<PosixFixture>();
        else
            fx = std::make_unique<MemoryFixture>();
    }
    FileServices& files() { return fx->files(); }
    Text at(std::string_view name) { return fx->root() + "/" + std::string(name); }
    std::unique_ptr<Fixture> fx;
};

TEST_P(FileServicesContract, ReadsBackWhatWasWritten) {
    const ByteBuffer a = ByteBuffer::fromText("head");
    const ByteBuffer b = ByteBuffer::fromText("tail");
    const ByteBuffer parts[] = {a, ByteBuffer(), b};
    ASSERT_TRUE(files().writeWholeFile(at("f.bin"), parts));
    EXPECT_EQ(files().readWholeFile(at("f.bin")), ByteBuffer::fromText("headtail"));
    ASSERT_TRUE(files().writeWholeFile(at("f.bin"), ByteBuffer::fromText("x")));
    EXPECT_EQ(files().readWholeFile(at("f.bin")), ByteBuffer::fromText("x"));
}

TEST_P(FileServicesContract, EmptyFileIsReadableAndDistinctFromMissing) {
    ASSERT_TRUE(files().writeWholeFile(at("empty"), ByteBuffer()));
    auto got = files().tryReadWholeFile(at("empty"));
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->empty());
    EXPECT_FALSE(files().tryReadWholeFile(at("missing")).has_value());
    EXPECT_FALSE(files().lastError().empty());
    EXPECT_TRUE(files().readWholeFile(at("missing")).empty());
    EXPECT_TRUE(files().readWholeFile("").empty());
}

TEST_P(FileServicesContract, DirectoriesAreNotFiles) {
    ASSERT_TRUE(files().createDirectory(at("d")));
    EXPECT_FALSE(files().createDirectory(at("d")));  // exists already
    EXPECT_TRUE(files().pathExists(at("d")));
    EXPECT_TRUE(files().isDirectory(at("d")));
    ASSERT_TRUE(files().writeWholeFile(at("f"), ByteBuffer::fromText("x")));
    EXPECT_FALSE(files().isDirectory(at("f")));
    EXPECT_FALSE(files().isDirectory(at("absent")));
    EXPECT_FALSE(files().tryReadWholeFile(at("d")).has_value());
    EXPECT_FALSE(files().writeWholeFile(at("d"), ByteBuffer::fromText("x")));
    EXPECT_FALSE(files().createDirectory(at("no/such/parent")));
}

TEST_P(FileServicesContract, WriteIntoMissingFolderFailsAndCreatesNothing) {
    EXPECT_FALSE(files().writeWholeFile(at("nofolder/f"), ByteBuffer::fromText("x")));
    EXPECT_FALSE(files().pathExists(at("nofolder")));
    EXPECT_FALSE(files().writeWholeFile("", ByteBuffer::fromText("x")));
}

TEST_P(FileServicesContract, IniValuesFollowTheReadingRules) {
    const Text ini = at("s.ini");
    EXPECT_EQ(files().readIniValue(ini, "Config", "k", "dflt"), "dflt");  // missing file
    const Text key = utf8ToGbk("资源种类数");
    ASSERT_TRUE(files().writeWholeFile(
        ini, ByteBuffer::fromText("[config]\r\n  " + key + "  =  3  \r\nempty=\r\n")));
    EXPECT_EQ(files().readIniValue(ini, "Config", key, ""), "3");
    EXPECT_EQ(files().readIniValue(ini, "Config", "empty", "dflt"), "");
    EXPECT_EQ(files().readIniValue(ini, "Config", "absent", "dflt"), "dflt");
    EXPECT_EQ(files().readIniValue(ini, "Config", "   ", "dflt"), "");
    EXPECT_EQ(files().readIniValue(ini, "  ", "k", "dflt"), "");
    EXPECT_EQ(files().readIniValue("  ", "Config", "k", "dflt"), "");
    EXPECT_EQ(files().readIniValue("  " + ini, " Config", " " + key, ""), "3");
}

TEST_P(FileServicesContract, IniWriteCreatesThenUpdatesInPlace) {
    const Text ini = at("Resource.ini");
    const Text key = utf8ToGbk("输出文件夹");
    const Text folder = utf8ToGbk("/数据/导出");
    ASSERT_TRUE(files().writeIniValue(ini, "Config", key, folder));
    EXPECT_EQ(files().readWholeFile(ini),
              ByteBuffer::fromText("[Config]\r\n" + key + "=" + folder + "\r\n"));
    ASSERT_TRUE(files().writeIniValue(ini, "Config", key, "/x"));
    EXPECT_EQ(files().readWholeFile(ini), ByteBuffer::fromText("[Config]\r\n" + key + "=/x\r\n"));
    EXPECT_FALSE(files().writeIniValue(at("nofolder/x.ini"), "S", "k", "v"));
}

// A line break in a name or the value would end the entry early and write the rest as lines
// of their own: the write is refused and the file keeps every byte.
TEST_P(FileServicesContract, IniWriteRefusesLineBreaksAndLeavesTheFile) {
    const Text ini = at("Resource.ini");
    const ByteBuffer before = ByteBuffer::fromText("[Config]\r\nk=kept\r\n");
    ASSERT_TRUE(files().writeWholeFile(ini, before));
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"Config", "k", "a\nb"},       {"Config", "k", "a\rb"}, {"Config", "k", "a\r\n[X]\r\nk=y"},
        {"Config", "k", "trailing\n"}, {"Config", "k\nx", "v"}, {"Con\rfig", "k", "v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_FALSE(files().writeIniValue(ini, c.section, c.key, c.value));
        EXPECT_EQ(files().readWholeFile(ini), before);
        EXPECT_FALSE(files().writeIniValue(at("new.ini"), c.section, c.key, c.value));
        EXPECT_FALSE(files().pathExists(at("new.ini")));
    }
    EXPECT_EQ(files().readIniValue(ini, "Config", "k", ""), "kept");
}

INSTANTIATE_TEST_SUITE_P(Impl, FileServicesContract, ::testing::Values("posix", "memory"));

class PosixFiles : public ::testing::Test {
  protected:
    PosixFixture fx;
    std::string p(const std::string& name) { return fx.dir + "/" + name; }
    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

// A write that fails half way (here: the file-size limit, as a full disk would) must
// leave the old file exactly as it was and no temporary file behind.
TEST_F(PosixFiles, FailedWriteLeavesTheOldFileIntact) {
    const std::string target = p("keep.bin");
    std::ofstream(target, std::ios::binary) << "original content";
    const ByteBuffer big = testing::zeros(1 << 20);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        PosixFileServices files(utf8ToGbk(fx.dir));
        _exit(files.writeWholeFile(utf8ToGbk(target), big) ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failing write reported success";
    EXPECT_EQ(slurp(target), "original content");
    int entries = 0;
    for (auto& e : fs::directory_iterator(fx.dir)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "a temporary file was left behind";
}

TEST_F(PosixFiles, ReplacingKeepsPermissionsAndWritesThroughLinks) {
    const std::string target = p("mode.bin");
    std::ofstream(target) << "a";
    chmod(target.c_str(), 0640);
    symlink(target.c_str(), p("link").c_str());
    ASSERT_TRUE(fx.services->writeWholeFile(utf8ToGbk(p("link")), ByteBuffer::fromText("new")));
    struct stat st {};
    stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(slurp(target), "new");
    EXPECT_TRUE(fs::is_symlink(p("link")));
}

TEST_F(PosixFiles, ChineseAndNonGbkNamesReachTheSameFile) {
    for (const std::string name : {"资源.bin", "😀.bin"}) {
        ASSERT_TRUE(fx.services->writeWholeFile(utf8ToGbk(p(name)), ByteBuffer::fromText("z")));
        EXPECT_EQ(slurp(p(name)), "z") << name;
        EXPECT_EQ(fx.services->readWholeFile(utf8ToGbk(p(name))), ByteBuffer::fromText("z"));
    }
}

TEST_F(PosixFiles, UnreadableFileReportsWhy) {
    EXPECT_FALSE(fx.services->tryReadWholeFile(utf8ToGbk(p("absent"))));
    EXPECT_EQ(gbkToUtf8(fx.services->lastError()), "文件或文件夹不存在");
    EXPECT_FALSE(fx.services->tryReadWholeFile(utf8ToGbk(fx.dir)));
    EXPECT_EQ(gbkToUtf8(fx.services->lastError()), "这是一个文件夹,不是文件");
}

// A dropped FIFO must not hang the window waiting for a writer, and /dev/zero must not
// be read until memory runs out: neither is a file.
TEST_F(PosixFiles, PipesAndCharacterDevicesAreRefusedAtOnce) {
    const std::string fifo = p("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(fx.services->tryReadWholeFile(utf8ToGbk(fifo)));
    EXPECT_EQ(gbkToUtf8(fx.services->lastError()), "不是普通文件(管道、套接字或字符设备)");
    EXPECT_FALSE(fx.services->tryReadWholeFile("/dev/zero"));
    std::ofstream(p("plain")) << "ok";
    EXPECT_EQ(fx.services->readWholeFile(utf8ToGbk(p("plain"))), ByteBuffer::fromText("ok"));
}

// Files under /proc say their size is 0 and are made as they are read: they are read to
// their end like any other file, however much that is.
TEST_F(PosixFiles, FilesThatReportNoSizeAreReadToTheirEnd) {
    const struct {
        const char* path;
        const char* first;     // how the content starts
        const char* lastLine;  // how its last line starts
        std::size_t atLeast;
    } cases[] = {
        {"/proc/self/status", "Name:", "nonvoluntary_ctxt_switches:", 100},
        {"/proc/self/smaps", "", "VmFlags:", 4097},  // more than one page
        {"/proc/cpuinfo", "processor", "", 1},
    };
    for (const auto& c : cases) {
        struct stat st {};
        ASSERT_EQ(stat(c.path, &st), 0) << c.path;
        ASSERT_EQ(st.st_size, 0) << c.path;
        const auto got = fx.services->tryReadWholeFile(c.path);
        ASSERT_TRUE(got.has_value()) << c.path << ": " << gbkToUtf8(fx.services->lastError());
        const std::string text(got->view());
        EXPECT_GE(text.size(), c.atLeast) << c.path;
        EXPECT_EQ(text.rfind(c.first, 0), 0u) << c.path;
        ASSERT_FALSE(text.empty()) << c.path;
        EXPECT_EQ(text.back(), '\n') << c.path;
        const std::size_t lastLine = text.rfind('\n', text.size() - 2);
        EXPECT_EQ(text.compare(lastLine + 1, std::strlen(c.lastLine), c.lastLine), 0)
            << c.path << " ends with: " << text.substr(lastLine + 1);
    }
}

// What a read in steps tells the window, in order.
struct ReadLog final : Progress {
    std::vector<std::string> events;
    void step() override { events.push_back("step"); }
    void beginStage(double, std::int64_t) override {}
    void reached(std::int64_t position) override {
        events.push_back("at " + std::to_string(position >> 20));
    }
    void setStageTotal(std::int64_t total) override {
        events.push_back("total " + std::to_string(total >> 20));
    }
};

// A 10 MiB file: the size first, then how far the read has got, never backwards, up to the
// whole, with events let run meanwhile; the bytes are those of the file. A failed read
// reports nothing.
TEST_F(PosixFiles, ReadingInStepsReportsEachStep) {
    std::string content(std::size_t{10} << 20, 'a');
    for (std::size_t i = 0; i < content.size(); i += 4093) content[i] = static_cast<char>(i);
    std::ofstream(p("ten.bin"), std::ios::binary) << content;
    ReadLog log;
    const auto got = fx.services->readWholeFileInSteps(utf8ToGbk(p("ten.bin")), log);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->view(), content);
    ASSERT_FALSE(log.events.empty());
    EXPECT_EQ(log.events.front(), "total 10");
    EXPECT_EQ(log.events.back(), "at 10");
    int last = -1;
    for (const std::string& e : log.events) {
        if (e.rfind("at ", 0) != 0) continue;
        const int at = std::stoi(e.substr(3));
        EXPECT_GE(at, last);
        last = at;
    }

    ReadLog none;
    EXPECT_FALSE(fx.services->readWholeFileInSteps(utf8ToGbk(p("absent")), none));
    EXPECT_EQ(gbkToUtf8(fx.services->lastError()), "文件或文件夹不存在");
    EXPECT_TRUE(none.events.empty());
    // A file that reports no size is read to its end in steps too.
    const auto status = fx.services->readWholeFileInSteps("/proc/self/status", none);
    ASSERT_TRUE(status);
    EXPECT_EQ(std::string(status->view()).rfind("Name:", 0), 0u);
}

// Drops the file's pages from the page cache, as for a file nobody has read for a while.
void evictFromCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// The share of the file's pages that the page cache holds.
double cachedShare(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    ::fstat(fd, &st);
    const auto size = static_cast<std::size_t>(st.st_size);
    void* m = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (m == MAP_FAILED) return 1;
    std::vector<unsigned char> pages((size + 4095) / 4096);
    double cached = 1;
    if (::mincore(m, size, pages.data()) == 0) {
        std::size_t n = 0;
        for (const unsigned char page : pages) n += page & 1u;
        cached = static_cast<double>(n) / static_cast<double>(pages.size());
    }
    ::munmap(m, size);
    return cached;
}

// A large file the page cache does not hold is read past it, in whole blocks, and the part
// that does not fill a block through it: the bytes are the file's whatever its length, both
// ways of reading, and the page cache is not filled with a second copy of them. A file the
// cache holds is copied from it.
TEST_F(PosixFiles, LargeFilesReadPastThePageCacheWhenItDoesNotHoldThem) {
    const std::size_t sizes[] = {(std::size_t{32} << 20) + 1234, std::size_t{32} << 20,
                                 (std::size_t{40} << 20) + 4095};
    for (const std::size_t size : sizes) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131) >> 7);
        const std::string path = p("large.bin");
        std::ofstream(path, std::ios::binary) << content;
        const int direct = ::open(path.c_str(), O_RDONLY | O_DIRECT);
        const bool fileSystemReadsPastCache = direct >= 0;
        if (direct >= 0) ::close(direct);
        for (const bool inSteps : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (inSteps ? " in steps" : " at once"));
            evictFromCache(path);
            const bool evicted = cachedShare(path) < 0.5;
            ReadLog log;
            const auto got = inSteps ? fx.services->readWholeFileInSteps(utf8ToGbk(path), log)
                                     : fx.services->tryReadWholeFile(utf8ToGbk(path));
            ASSERT_TRUE(got);
            EXPECT_TRUE(got->view() == content) << "the bytes differ from the file's";
            if (evicted && fileSystemReadsPastCache) {
                EXPECT_LT(cachedShare(path), 0.5) << "the page cache got a copy too";
            }
            // Once the cache holds the file, it is read from there, the same bytes.
            ASSERT_EQ(slurp(path).size(), size);
            const auto again = fx.services->tryReadWholeFile(utf8ToGbk(path));
            ASSERT_TRUE(again);
            EXPECT_TRUE(again->view() == content);
        }
    }
}

TEST(ProgramDirectory, IsAbsoluteWithoutTrailingSlash) {
    const Text dir = executableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(fs::exists(fs::path(gbkToUtf8(dir)) / "kerbilo_runtime_tests"));
}

}  // namespace
}  // namespace kerbilo
