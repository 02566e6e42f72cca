#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "components/pipeline/compressed_encoder.h"
#include "platform/com/connection_point.h"
#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

constexpr EncoderTraits kCopyTraits{u".cpy", u"Copy Encoder", true, 4096, 4096, true};

// A format that "compresses" by copying, so the pipeline can be watched.
class CopyEncoder final : public CompressedEncoder {
public:
    CopyEncoder() : CompressedEncoder(kClassMp3Encoder, kCopyTraits) {}
    static ComPtr<CopyEncoder> Make() {
        void* p = nullptr;
        EXPECT_EQ((CreateInstance<CopyEncoder>(IID_IKivAudioEncoder, &p)), S_OK);
        return ComPtr<CopyEncoder>::adopt(static_cast<CopyEncoder*>(static_cast<IKivAudioEncoder*>(p)));
    }
    HRESULT SetOutputFormatVBR(float) override { return S_OK; }
    HRESULT SetOutputFormatABR(LONG) override { return S_OK; }
    HRESULT SetOutputFormatCBR(LONG) override { return S_OK; }

    void PipeSize(LONG size) { SetPipeSize(size); }
    std::size_t blockSize = 4096;
    int failAtBlock = -1;
    int prepared = 0, finished = 0, finishedStarted = 0;
    std::vector<std::size_t> blockSizes;
    std::thread::id blockThread;

protected:
    HRESULT PrepareStream() override {
        ++prepared;
        return S_OK;
    }
    std::size_t BlockSize() const override { return blockSize; }
    bool EncodeBlock(const BYTE* data, std::size_t size) override {
        blockThread = std::this_thread::get_id();
        if (int(blockSizes.size()) == failAtBlock) {
            PostError(u"copy failed");
            return false;
        }
        blockSizes.push_back(size);
        return WriteAll(outputFd(), data, size);
    }
    HRESULT FinishStream(bool started) override {
        ++finished;
        if (started) ++finishedStarted;
        ReleaseOutput();
        return S_OK;
    }

private:
    ~CopyEncoder() override = default;
};

class PipelineTest : public ComponentTest {
protected:
    HRESULT Open(CopyEncoder* e, const std::string& name) {
        Bstr n(FromUtf8(dir_ / name));
        return e->Open(n.get());
    }
};

TEST_F(PipelineTest, EverythingWrittenIsEncodedOffTheCallersThreadInWholeFrames) {
    auto enc = CopyEncoder::Make();
    enc->blockSize = 1001;  // not a multiple of the 4-byte frame
    ASSERT_EQ(Open(enc.get(), "a.cpy"), S_OK);
    auto data = PatternBytes(1 << 20);  // far more than the pipe holds
    enc->PipeSize(4096);
    ASSERT_EQ(enc->Write(data.data(), LONG(data.size())), S_OK);
    ASSERT_EQ(enc->Write(data.data(), 3), S_OK);  // a partial frame at the end stays behind
    ASSERT_EQ(enc->Close(), S_OK);
    auto out = ReadFileBytes(dir_ / "a.cpy");
    ASSERT_EQ(out.size(), data.size());
    EXPECT_EQ(out, data);
    for (std::size_t s : enc->blockSizes) EXPECT_EQ(s % 4, 0u);
    EXPECT_NE(enc->blockThread, std::this_thread::get_id());
    EXPECT_EQ(enc->prepared, 1);
    EXPECT_EQ(enc->finishedStarted, 1);
}

TEST_F(PipelineTest, BlocksAreFilledWholeWhateverPiecesTheCallerWrites) {
    // The block step sees the same blocks however the stream was cut, so an
    // encoder that decides by how much input it gets at once gives the
    // same output for the same samples.
    auto enc = CopyEncoder::Make();
    enc->blockSize = 1001;  // whole frames of it: 1000 bytes
    ASSERT_EQ(Open(enc.get(), "r.cpy"), S_OK);
    const auto data = PatternBytes(300000, 3);
    const std::size_t pieces[] = {1, 3, 333, 2, 4097, 65536, 7};
    std::size_t at = 0;
    for (std::size_t i = 0; at < data.size(); ++i) {
        const std::size_t n = std::min(pieces[i % std::size(pieces)], data.size() - at);
        ASSERT_EQ(enc->Write(const_cast<BYTE*>(data.data() + at), LONG(n)), S_OK);
        at += n;
    }
    ASSERT_EQ(enc->Close(), S_OK);
    EXPECT_EQ(ReadFileBytes(dir_ / "r.cpy"), data);
    ASSERT_EQ(enc->blockSizes.size(), 300u);
    for (std::size_t s : enc->blockSizes) EXPECT_EQ(s, 1000u);
}

TEST_F(PipelineTest, OpenAndCloseWithoutWriteSkipsTheStream) {
    auto enc = CopyEncoder::Make();
    BYTE b[4] = {};
    EXPECT_EQ(enc->Write(b, 4), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Error: cannot write: file is not open.");
    EXPECT_EQ(enc->prepared, 0) << "no stream without an output";
    EXPECT_EQ(enc->Write(nullptr, 4), E_POINTER);
    ASSERT_EQ(Open(enc.get(), "b.cpy"), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    EXPECT_EQ(enc->finished, 1);
    EXPECT_EQ(enc->finishedStarted, 0);
    EXPECT_EQ(enc->Close(), S_OK) << "closing twice does nothing";
    EXPECT_EQ(enc->finished, 1);
}

TEST_F(PipelineTest, AFailureInTheThreadBreaksThePipeWithoutKillingTheProcess) {
    auto enc = CopyEncoder::Make();
    std::vector<std::u16string> errors;
    auto sink = DispatchSink::Create(DIID_IKivAudioEncoderEvents, [&](DISPID id, DISPPARAMS& p) {
        if (id == DISPID_OnError) errors.push_back(EventArgText(p, 0));
    });
    EventConnection conn;
    ASSERT_EQ(conn.Connect(static_cast<IKivAudioEncoder*>(enc.get()), DIID_IKivAudioEncoderEvents, sink.get()), S_OK);
    enc->failAtBlock = 0;
    ASSERT_EQ(Open(enc.get(), "c.cpy"), S_OK);
    auto data = PatternBytes(8192);
    HRESULT hr = S_OK;
    // The thread fails on its first block; writing on must end in a broken pipe.
    for (int i = 0; i < 1000 && SUCCEEDED(hr); ++i) hr = enc->Write(data.data(), LONG(data.size()));
    ASSERT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Internal error #9. Pipe broken. System error message: Broken pipe.");
    // Close joins a thread that has already ended, and says the file is not whole.
    EXPECT_EQ(enc->Close(), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Error: encoding stopped early; the file is incomplete.");
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors, std::vector<std::u16string>{u"copy failed"});
}

TEST_F(PipelineTest, CloseFailsWhenTheThreadGaveUpAfterEveryWriteWasTaken) {
    // The pipe takes the caller's bytes at once; a failure after that (the
    // disk filled up at the last block) is only learnt at Close.
    struct Case {
        int failAtBlock;
        const char* text;
    } cases[] = {{0, "Error: encoding stopped early; the file is incomplete."}, {2, nullptr}};
    for (const Case& c : cases) {
        auto enc = CopyEncoder::Make();
        enc->failAtBlock = c.failAtBlock;
        enc->put_OverwritePrompt(0);
        ASSERT_EQ(Open(enc.get(), "d.cpy"), S_OK);
        auto data = PatternBytes(4096 * 2);
        ASSERT_EQ(enc->Write(data.data(), LONG(data.size())), S_OK);
        if (c.text) {
            EXPECT_EQ(enc->Close(), DISP_E_EXCEPTION) << c.failAtBlock;
            EXPECT_EQ(TakeError().second, c.text);
        } else {
            EXPECT_EQ(enc->Close(), S_OK) << "no block failed";
            EXPECT_EQ(fs::file_size(dir_ / "d.cpy"), data.size());
        }
        PumpPendingMessages();
    }
}

TEST_F(PipelineTest, EachStreamGetsAFreshPipeAndThread) {
    auto enc = CopyEncoder::Make();
    for (int stream = 0; stream < 3; ++stream) {
        ASSERT_EQ(Open(enc.get(), "s" + std::to_string(stream) + ".cpy"), S_OK);
        auto data = PatternBytes(50000, unsigned(stream + 7));
        ASSERT_EQ(enc->Write(data.data(), LONG(data.size())), S_OK);
        ASSERT_EQ(enc->Close(), S_OK);
        EXPECT_EQ(ReadFileBytes(dir_ / ("s" + std::to_string(stream) + ".cpy")), data);
    }
    EXPECT_EQ(enc->prepared, 3);
}

TEST_F(PipelineTest, OpenHandleTakesTheCallersDescriptorAndLeavesItOpen) {
    auto enc = CopyEncoder::Make();
    EXPECT_EQ(enc->OpenHandle(reinterpret_cast<void*>(std::intptr_t(-1))), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Internal error #4. Null handle passed to OpenHandle method.");
    int fd = ::open((dir_ / "h.cpy").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(enc->OpenHandle(reinterpret_cast<void*>(std::intptr_t(fd))), S_OK);
    Bstr name;
    ASSERT_EQ(enc->get_Filename(name.put()), S_OK);
    EXPECT_EQ(name.view(), u"<Custom Application Handle>");
    auto data = PatternBytes(1000);
    ASSERT_EQ(enc->Write(data.data(), LONG(data.size())), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    EXPECT_EQ(::write(fd, "!", 1), 1) << "the descriptor is still the caller's and still open";
    ::close(fd);
    auto out = ReadFileBytes(dir_ / "h.cpy");
    ASSERT_EQ(out.size(), 1001u);
}

}  // namespace
}  // namespace kiv::test
