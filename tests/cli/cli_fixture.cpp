#include "cli_fixture.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "runtime/byte_ops.h"
#include "runtime/gbk.h"

namespace kerbilo::testing {

void CliFixture::SetUp() {
    char tmpl[] = "/tmp/kerbilo-cli-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    files_ = std::make_unique<PosixFileServices>(dir_);
}

void CliFixture::TearDown() {
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
}

int CliFixture::run(std::vector<std::string> args) {
    args.insert(args.begin(), "kerbilo-cli");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream o, e;
    cli::CliEnv env{*files_, o, e, nullptr};
    const int rc = cli::runCli(env, static_cast<int>(argv.size()), argv.data());
    out = o.str();
    err = e.str();
    return rc;
}

void CliFixture::write(const std::string& name, const ByteBuffer& data) {
    ASSERT_TRUE(files_->writeWholeFile(utf8ToGbk(path(name)), data));
}

ByteBuffer CliFixture::read(const std::string& name) {
    return files_->tryReadWholeFile(utf8ToGbk(path(name))).value_or(ByteBuffer{});
}

bool CliFixture::exists(const std::string& name) {
    return files_->pathExists(utf8ToGbk(path(name)));
}

ByteBuffer pngResource(std::size_t bodyLength, char fill) {
    const ByteBuffer head{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D};
    const ByteBuffer tail{0, 0, 0, 0, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return concatBytes({head, ByteBuffer::fromText(std::string(bodyLength, fill)), tail});
}

}  // namespace kerbilo::testing
