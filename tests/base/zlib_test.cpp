#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>

#include "base/cvhandle.h"
#include "base/cvzlib.h"
#include "support/test_support.h"

using cvtest::ScratchDir;

namespace {


// Text that compresses well but not trivially.
std::string Sample(size_t size)
{
    std::string s;
    s.reserve(size);
    unsigned x = 12345;
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        s += "line " + std::to_string((x >> 16) % 1000) + " of the sample\n";
    }
    s.resize(size);
    return s;
}


std::string ZlibStream(const std::string& data)
{
    uLongf n = compressBound(static_cast<uLong>(data.size()));
    std::string out(n, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(data.data()),
             static_cast<uLong>(data.size()));
    out.resize(n);
    return out;
}

class ZlibTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(codec.InitZlib(nullptr), S_OK); }
    CCvZlib& codec = CCvZlib::Instance();
    ScratchDir dir{L"zlib"};
};

}  // namespace

// Run in a child process, where nothing has made the codec ready yet.
TEST(ZlibNotReady, DISABLED_RefusesBeforeInit)
{
    ScratchDir dir(L"notready");
    cvtest::WriteFile(dir / L"in", "data");
    EXPECT_EQ(CCvZlib::Instance().EncodeFile((dir / L"in").c_str(), (dir / L"out").c_str(), -1), E_NOINTERFACE);
    EXPECT_FALSE(cvtest::Exists(dir / L"out"));
    BYTE* out = nullptr;
    int len = 0;
    std::string z = ZlibStream("data");
    EXPECT_EQ(CCvZlib::Instance().DecodeGZipBuffer(reinterpret_cast<const BYTE*>(z.data()),
                                                   static_cast<int>(z.size()), &out, &len),
              E_FAIL);
    CCvZlib::Instance().InitZlib(nullptr);
    CCvZlib::Instance().UninitZlib();  // stays ready
    EXPECT_EQ(CCvZlib::Instance().EncodeFile((dir / L"in").c_str(), (dir / L"out").c_str(), -1), S_OK);
}

TEST(ZlibNotReady, FileAndBufferOperationsBeforeInit)
{
    EXPECT_TRUE(cvtest::PassedOneTest(cvtest::RunDisabledTest(L"ZlibNotReady.DISABLED_RefusesBeforeInit")));
}

TEST_F(ZlibTest, EncodedFileIsOneZlibStreamThatDecodesBack)
{
    const std::string data = Sample(300000);
    cvtest::WriteFile(dir / L"plain", data);
    ASSERT_EQ(codec.EncodeFile((dir / L"plain").c_str(), (dir / L"packed").c_str(), -1), S_OK);
    std::string packed = cvtest::ReadFileBytes(dir / L"packed");
    ASSERT_GT(packed.size(), 6u);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x78);
    EXPECT_EQ(static_cast<unsigned char>(packed[1]), 0x9C);
    // Exactly what zlib's compress2 makes: nothing before or after the stream.
    EXPECT_EQ(packed, ZlibStream(data));

    ASSERT_EQ(codec.DecodeFile((dir / L"packed").c_str(), (dir / L"back").c_str(), 0), S_OK);
    EXPECT_EQ(cvtest::ReadFileBytes(dir / L"back"), data);

    ASSERT_EQ(codec.EncodeFile((dir / L"plain").c_str(), (dir / L"fast").c_str(), 1), S_OK);
    EXPECT_EQ(static_cast<unsigned char>(cvtest::ReadFileBytes(dir / L"fast")[1]), 0x01);  // level 1's header
}

TEST_F(ZlibTest, OutputGrowsByDoublingWithOrWithoutAHint)
{
    // 20,000,000 bytes of one repeated byte pattern pack into far less than
    // the first output guess: the decoder must double its way up.
    const std::string data(20000000, 'a');
    cvtest::WriteFile(dir / L"big", data);
    ASSERT_EQ(codec.EncodeFile((dir / L"big").c_str(), (dir / L"big.z").c_str(), 9), S_OK);
    for (DWORD hint : {0u, 20000000u, 1000u}) {
        ASSERT_EQ(codec.DecodeFile((dir / L"big.z").c_str(), (dir / L"big.out").c_str(), hint), S_OK) << hint;
        EXPECT_EQ(cvtest::ReadFileBytes(dir / L"big.out"), data) << hint;
    }
    // A hint beyond the largest output is never tried.
    EXPECT_EQ(codec.DecodeFile((dir / L"big.z").c_str(), (dir / L"big.out").c_str(), 1000000001u), E_FAIL);
    EXPECT_EQ(cvtest::ReadFileBytes(dir / L"big.out"), "");
}

TEST_F(ZlibTest, FailuresAndTheirCodes)
{
    cvtest::WriteFile(dir / L"empty", "");
    EXPECT_EQ(codec.EncodeFile((dir / L"empty").c_str(), (dir / L"e1").c_str(), -1), S_OK);
    EXPECT_EQ(cvtest::ReadFileBytes(dir / L"e1"), "");
    EXPECT_EQ(codec.DecodeFile((dir / L"empty").c_str(), (dir / L"e2").c_str(), 0), S_OK);
    EXPECT_EQ(cvtest::ReadFileBytes(dir / L"e2"), "");

    EXPECT_EQ(codec.EncodeFile((dir / L"missing").c_str(), (dir / L"m").c_str(), -1),
              static_cast<HRESULT>(0x80070002));
    EXPECT_FALSE(cvtest::Exists(dir / L"m"));

    cvtest::WriteFile(dir / L"text", "this is not a zlib stream at all");
    cvtest::WriteFile(dir / L"gz", cvtest::Gzip(Sample(1000)));
    for (const wchar_t* bad : {L"text", L"gz"}) {
        cvtest::WriteFile(dir / L"bad.out", "old content");
        EXPECT_EQ(codec.DecodeFile((dir / bad).c_str(), (dir / L"bad.out").c_str(), 0), E_FAIL);
        EXPECT_EQ(cvtest::ReadFileBytes(dir / L"bad.out"), "");  // left empty
    }

    // Larger than the largest input: refused before it is read.
    {
        CvFileHandle h(CreateFileW((dir / L"huge").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(h);
        LARGE_INTEGER size;
        size.QuadPart = 1000000001;
        ASSERT_TRUE(SetFilePointerEx(h.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h.get()));
    }
    EXPECT_EQ(codec.EncodeFile((dir / L"huge").c_str(), (dir / L"huge.z").c_str(), -1), E_FAIL);
    EXPECT_EQ(cvtest::ReadFileBytes(dir / L"huge.z"), "");
    DeleteFileW((dir / L"huge").c_str());
}

TEST_F(ZlibTest, BufferDecodingOfGzipAndZlib)
{
    const std::string data = Sample(50000);
    struct Case {
        const char* what;
        std::string input;
        HRESULT result;
    } cases[] = {
        {"gzip member", cvtest::Gzip(data), S_OK},
        {"zlib stream", ZlibStream(data), S_OK},
        {"bytes after the stream", cvtest::Gzip(data) + "trailing", S_OK},
        {"gzip cut before its trailer", cvtest::Gzip(data).substr(0, cvtest::Gzip(data).size() - 6), E_FAIL},
        {"cut in the middle", ZlibStream(data).substr(0, 100), E_FAIL},
        {"not compressed", data, E_FAIL},
        {"empty", "", E_FAIL},
    };
    for (const Case& c : cases) {
        BYTE* out = reinterpret_cast<BYTE*>(1);
        int len = -1;
        HRESULT hr = codec.DecodeGZipBuffer(reinterpret_cast<const BYTE*>(c.input.data()),
                                            static_cast<int>(c.input.size()), &out, &len);
        EXPECT_EQ(hr, c.result) << c.what;
        if (hr == S_OK) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(out), len), data) << c.what;
            free(out);
        } else {
            EXPECT_EQ(out, nullptr) << c.what;
            EXPECT_EQ(len, 0) << c.what;
        }
    }
    std::string empty = cvtest::Gzip("");
    BYTE* out = nullptr;
    int len = -1;
    ASSERT_EQ(codec.DecodeGZipBuffer(reinterpret_cast<const BYTE*>(empty.data()), static_cast<int>(empty.size()),
                                     &out, &len),
              S_OK);
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(len, 0);
    free(out);
}
