#include "cache/browser/decode.h"

#include "cache/browser/blockfile.h"
#include "cache/browser/source.h"
#include "cache/browser/sql_cache.h"
#include "cache/formats/http.h"
#include "cache/formats/webkit.h"
#include "platform/base/endian.h"

#include <algorithm>
#include <brotli/decode.h>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>
#include <zlib.h>
#include <zstd.h>

namespace browser {

namespace detail {

namespace {

std::function<void(StoredReadPoint)> g_storedReadHook;

void StoredReadSeam(StoredReadPoint point) {
    if (g_storedReadHook)
        g_storedReadHook(point);
}

class ErrorStream final : public BodyStream {
  public:
    explicit ErrorStream(std::string error) : error_(std::move(error)) {}
    std::ptrdiff_t read(char*, std::size_t) override { return -1; }
    const std::string& error() const override { return error_; }

  private:
    std::string error_;
};

class MemoryBody final : public BodyStream {
  public:
    explicit MemoryBody(std::string_view bytes) : bytes_(bytes) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min(capacity, bytes_.size() - pos_);
        std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }
    const std::string& error() const override { return error_; }

  private:
    std::string bytes_;
    std::size_t pos_ = 0;
    std::string error_;
};

// The file a segment's bytes are read from: the shard's private copy where the scan took one.
const std::string& ReadPath(const BodySegment& s) {
    return s.snapshot ? s.snapshot->path() : s.file;
}
// The tree ReadPath is in: a private copy is always the host's.
const platform::FileAccess& ReadFiles(const BodySegment& s) {
    return s.snapshot ? platform::HostFiles() : FilesOf(s.files);
}

// A block file or a shard holds the bodies of many entries; every other file holds one.
bool SharedFile(const BodySegment& s) {
    return s.record.kind == RecordCheck::Kind::Blockfile || s.record.kind == RecordCheck::Kind::Sql;
}

// A WebKit body kept apart from its record: the record file is still the one the scan read.
bool WebKitRecordHolds(const BodySegment& s) {
    if (s.record.recordFile.empty())
        return true;
    ReadOnlyFile record(FilesOf(s.files));
    record.acceptDeleted(); // a deleted row's record, proven when it was listed
    return record.open(s.record.recordFile) && record.identity() == s.record.recordIdentity;
}

// A WebKit body is checked against the hash its record keeps (salt + body) once all of it
// has gone through here.
class WebKitHashCheck {
  public:
    void start(const RecordCheck& check, std::uint64_t length) {
        formats::WebKitRecordMeta meta;
        formats::WebKitSalt salt{};
        if (check.fields.size() == salt.size() + meta.bodyHash.size()) {
            std::memcpy(salt.data(), check.fields.data(), salt.size());
            std::memcpy(meta.bodyHash.data(), check.fields.data() + salt.size(),
                        meta.bodyHash.size());
        }
        meta.bodySize = length;
        check_ = std::make_unique<formats::WebKitBodyCheck>(meta, salt);
        verdict_.reset();
    }
    void add(const char* bytes, std::size_t n) {
        if (check_)
            check_->update({reinterpret_cast<const std::uint8_t*>(bytes), n});
    }
    // Once every byte was added.
    bool holds() {
        if (!verdict_)
            verdict_ = check_ && !check_->finish();
        return *verdict_;
    }

  private:
    std::unique_ptr<formats::WebKitBodyCheck> check_;
    std::optional<bool> verdict_;
};

// Whether `opened` is the file of `s` as the scan read it: the same file, unchanged. A file
// shared with other entries changes size and time with every write of any of them; for it,
// the same file (its entry's record tells whether the body changed).
bool SameFileAsListed(const FileIdentity& opened, const BodySegment& s) {
    if (!SharedFile(s))
        return opened == s.identity;
    return opened.device == s.identity.device && opened.inode == s.identity.inode;
}

class StoredBody final : public StoredStream {
  public:
    explicit StoredBody(std::vector<BodySegment> segments) : segments_(std::move(segments)) {}

    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
        if (!error_.empty())
            return -1;
        while (index_ < segments_.size()) {
            const BodySegment& s = segments_[index_];
            if (done_ == s.length) {
                if (!leaveSegment())
                    return fail();
                continue;
            }
            if (!file_.isOpen()) {
                // An SQL cache shard is opened too, though its blobs are read through SQLite:
                // it must still be the shard the scan read.
                StoredReadSeam(StoredReadPoint::BeforeOpen);
                openPath_ = ReadPath(s);
                file_.reset(ReadFiles(s));
                file_.acceptDeleted(); // a deleted row's file, proven when it was listed
                if (!file_.open(openPath_) || !SameFileAsListed(file_.identity(), s))
                    return fail();
                openShared_ = SharedFile(s);
            } else if (done_ > 0 || index_ > 0) {
                StoredReadSeam(StoredReadPoint::BetweenReads);
            }
            if (!entered_) {
                if (!enterSegment(s))
                    return fail();
                entered_ = true;
            }
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(capacity, s.length - done_));
            const std::ptrdiff_t got = s.blobRowId >= 0
                                           ? blob_.read(buffer, want)
                                           : file_.readSome(s.offset + done_, buffer, want);
            if (got <= 0)
                return fail(); // shrank since it was opened, or unreadable now
            if (s.record.kind == RecordCheck::Kind::WebKit)
                hash_.add(buffer, static_cast<std::size_t>(got));
            done_ += static_cast<std::uint64_t>(got);
            if (done_ == s.length && index_ + 1 == segments_.size())
                StoredReadSeam(StoredReadPoint::AfterLastByte);
            return got;
        }
        return 0;
    }
    const std::string& error() const override { return error_; }

    // The segment being read (if any) is still as listed, and so is its file.
    bool verify() override {
        if (!error_.empty())
            return false;
        if ((entered_ && !segmentStillListed()) || !fileStillListed()) {
            fail();
            return false;
        }
        return true;
    }

  private:
    std::ptrdiff_t fail() {
        error_ = kChangedSinceListed;
        file_.close();
        return -1;
    }

    // Before the first byte of a segment: its entry's record holds what the scan read.
    bool enterSegment(const BodySegment& s) {
        if (s.record.kind == RecordCheck::Kind::Blockfile && !BlockfileRecordHolds(s))
            return false;
        if (s.record.kind == RecordCheck::Kind::WebKit) {
            if (!WebKitRecordHolds(s))
                return false;
            hash_.start(s.record, s.length);
        }
        if (s.blobRowId >= 0)
            return blob_.open(ReadPath(s), s.blobRowId, s.offset, s.length,
                              s.record.kind == RecordCheck::Kind::Sql ? s.record.fields
                                                                      : std::string());
        return s.offset <= file_.size() && s.length <= file_.size() - s.offset;
    }

    // After the last byte of a segment that has been read (or as much of it as the decoder
    // wanted): its entry's record still holds what the scan read, so that nothing the
    // browser wrote meanwhile slips into the copy.
    bool segmentStillListed() {
        const BodySegment& s = segments_[index_];
        switch (s.record.kind) {
        case RecordCheck::Kind::Blockfile:
            return BlockfileRecordHolds(s);
        case RecordCheck::Kind::Sql:
            return blob_.finish();
        case RecordCheck::Kind::WebKit:
            // A body read only in part (its first bytes, to sniff) cannot be hashed.
            return WebKitRecordHolds(s) && (done_ < s.length || hash_.holds());
        case RecordCheck::Kind::None:
            break;
        }
        return true;
    }

    // The file open is still the one the scan read, unchanged. A shared file was checked to
    // be the same file at opening, which the descriptor stays.
    bool fileStillListed() {
        if (!file_.isOpen() || openShared_)
            return true;
        FileIdentity now;
        return file_.currentIdentity(now) && now == file_.identity();
    }

    bool leaveSegment() {
        if (entered_ && !segmentStillListed())
            return false;
        ++index_;
        done_ = 0;
        entered_ = false;
        // Leaving a file: it must still be as the scan saw it once its last byte of this
        // body is read.
        if (index_ == segments_.size() || ReadPath(segments_[index_]) != openPath_ ||
            !SameFileAsListed(file_.identity(), segments_[index_])) {
            if (!fileStillListed())
                return false;
            file_.close();
        }
        return true;
    }

    std::vector<BodySegment> segments_;
    std::size_t index_ = 0;
    std::uint64_t done_ = 0;
    bool entered_ = false; // the segment's record has been checked and its reading begun
    ReadOnlyFile file_;
    std::string openPath_;
    bool openShared_ = false;
    SqlBlobReader blob_;
    WebKitHashCheck hash_;
    std::string error_;
};

// The common part of the decoders: an input buffer filled from the stream below, the count
// of bytes produced against the cap, and the error state.
class Decoder : public BodyStream {
  public:
    Decoder(std::unique_ptr<BodyStream> in, std::uint64_t cap, std::size_t buffer)
        : in_(std::move(in)), size_(std::max<std::size_t>(buffer, kMinDecodeBuffer)),
          buffer_(new char[size_]), cap_(cap) {}
    const std::string& error() const override { return error_; }

    std::ptrdiff_t read(char* out, std::size_t capacity) override {
        if (!error_.empty())
            return -1;
        if (finished_ || capacity == 0)
            return 0;
        for (;;) {
            if (pos_ == len_ && !inputEnded_ && !refill())
                return -1;
            std::size_t produced = 0;
            const Step step = decode(out, capacity, produced);
            if (step == Step::Failed) // the input's own failure, if that was it, stands
                return error_.empty() ? fail(kDoesNotDecode) : -1;
            total_ += produced;
            if (total_ > cap_)
                return fail(TooLargeError(cap_));
            if (step == Step::Finished)
                finished_ = true;
            if (produced > 0)
                return static_cast<std::ptrdiff_t>(produced);
            if (finished_)
                return 0;
            if (step == Step::NeedInput && inputEnded_ && pos_ == len_)
                return fail(kDoesNotDecode); // the stream stops in the middle
        }
    }

  protected:
    enum class Step { Progress, NeedInput, Finished, Failed };
    // Decodes from input()[pos_..len_) into out, advancing pos_.
    virtual Step decode(char* out, std::size_t capacity, std::size_t& produced) = 0;

    const std::uint8_t* input() const {
        return reinterpret_cast<const std::uint8_t*>(buffer_.get()) + pos_;
    }
    std::size_t available() const { return len_ - pos_; }
    void consume(std::size_t n) { pos_ += n; }
    bool inputEnded() const { return inputEnded_; }
    // Makes at least n bytes available unless the input ends first.
    bool fillAtLeast(std::size_t n) {
        if (pos_ > 0) {
            std::memmove(buffer_.get(), buffer_.get() + pos_, len_ - pos_);
            len_ -= pos_;
            pos_ = 0;
        }
        while (len_ < n && !inputEnded_) {
            const std::ptrdiff_t got = in_->read(buffer_.get() + len_, size_ - len_);
            if (got < 0) {
                fail(in_->error());
                return false;
            }
            if (got == 0)
                inputEnded_ = true;
            len_ += static_cast<std::size_t>(got);
        }
        return true;
    }

    std::ptrdiff_t fail(std::string error) {
        error_ = std::move(error);
        return -1;
    }

  private:
    bool refill() {
        pos_ = len_ = 0;
        return fillAtLeast(1);
    }

    std::unique_ptr<BodyStream> in_;
    static constexpr std::size_t kMinDecodeBuffer = 16; // more than any decoder peeks at
    const std::size_t size_;
    // Not zeroed: most streams decode only the first kilobyte or so of a body, to sniff it.
    std::unique_ptr<char[]> buffer_;
    std::size_t pos_ = 0, len_ = 0;
    bool inputEnded_ = false, finished_ = false;
    std::uint64_t total_ = 0;
    const std::uint64_t cap_;
    std::string error_;
};

// gzip (one or more members) and deflate, the latter with or without its zlib wrapper.
// Inflate states kept for the next body on the same thread: setting one up allocates some
// 40 KB (its state, then its window), which for the first bytes of many small bodies cost more
// than the inflating itself. A few are kept, for codings nested in one another.
class InflateStates {
  public:
    InflateStates() = default;
    InflateStates(const InflateStates&) = delete;
    InflateStates& operator=(const InflateStates&) = delete;
    ~InflateStates() {
        for (z_stream* z : kept_)
            End(z);
    }
    // A state ready to inflate with `windowBits`; null when zlib could not make one.
    z_stream* take(int windowBits) {
        while (!kept_.empty()) {
            z_stream* z = kept_.back();
            kept_.pop_back();
            if (inflateReset2(z, windowBits) == Z_OK)
                return z;
            End(z);
        }
        auto z = std::make_unique<z_stream>();
        if (inflateInit2(z.get(), windowBits) != Z_OK)
            return nullptr;
        return z.release();
    }
    void give(z_stream* z) {
        if (kept_.size() < kKept)
            kept_.push_back(z);
        else
            End(z);
    }

  private:
    static void End(z_stream* z) {
        inflateEnd(z);
        delete z;
    }
    static constexpr std::size_t kKept = 4;
    std::vector<z_stream*> kept_;
};

thread_local InflateStates t_inflateStates;

class ZlibDecoder final : public Decoder {
  public:
    ZlibDecoder(std::unique_ptr<BodyStream> in, std::uint64_t cap, std::size_t buffer, bool gzip)
        : Decoder(std::move(in), cap, buffer), gzip_(gzip) {}
    ZlibDecoder(const ZlibDecoder&) = delete;
    ZlibDecoder& operator=(const ZlibDecoder&) = delete;
    ~ZlibDecoder() override {
        if (z_)
            t_inflateStates.give(z_);
    }

  protected:
    Step decode(char* out, std::size_t capacity, std::size_t& produced) override {
        if (!z_) {
            int windowBits = 16 + MAX_WBITS;
            if (!gzip_) {
                // Servers send "deflate" both as the zlib format it names and as bare
                // deflate data; the two-byte zlib header tells them apart.
                if (!fillAtLeast(2))
                    return Step::Failed;
                const std::uint8_t* p = input();
                const bool zlibHeader = available() >= 2 && (p[0] & 0x0F) == 8 &&
                                        (p[0] >> 4) <= 7 && platform::LoadBE16(p) % 31 == 0;
                windowBits = zlibHeader ? MAX_WBITS : -MAX_WBITS;
            }
            z_ = t_inflateStates.take(windowBits);
            if (!z_)
                return Step::Failed;
        }
        if (memberEnded_) {
            // Another gzip member may follow; anything else after the end is ignored. The
            // two bytes that tell may straddle a refill, so both are read in before deciding.
            if (gzip_ && !fillAtLeast(2))
                return Step::Failed;
            if (!gzip_ || available() < 2 || input()[0] != 0x1F || input()[1] != 0x8B)
                return Step::Finished;
            inflateReset(z_);
            memberEnded_ = false;
        }
        z_->next_in = const_cast<Bytef*>(input());
        z_->avail_in = static_cast<uInt>(std::min<std::size_t>(available(), 1u << 30));
        z_->next_out = reinterpret_cast<Bytef*>(out);
        z_->avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, 1u << 30));
        const uInt inBefore = z_->avail_in, outBefore = z_->avail_out;
        const int rc = inflate(z_, Z_NO_FLUSH);
        consume(inBefore - z_->avail_in);
        produced = outBefore - z_->avail_out;
        if (rc == Z_STREAM_END) {
            memberEnded_ = true;
            return Step::Progress;
        }
        if (rc == Z_OK)
            return Step::Progress;
        if (rc == Z_BUF_ERROR)
            return Step::NeedInput;
        return Step::Failed;
    }

  private:
    z_stream* z_ = nullptr; // from t_inflateStates, given back at the end
    bool gzip_;
    bool memberEnded_ = false;
};

class BrotliDecoder final : public Decoder {
  public:
    BrotliDecoder(std::unique_ptr<BodyStream> in, std::uint64_t cap, std::size_t buffer)
        : Decoder(std::move(in), cap, buffer),
          state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliDecoder() override { BrotliDecoderDestroyInstance(state_); }

  protected:
    Step decode(char* out, std::size_t capacity, std::size_t& produced) override {
        if (state_ == nullptr)
            return Step::Failed;
        std::size_t availIn = available();
        const std::uint8_t* nextIn = input();
        std::size_t availOut = capacity;
        auto* nextOut = reinterpret_cast<std::uint8_t*>(out);
        const BrotliDecoderResult r =
            BrotliDecoderDecompressStream(state_, &availIn, &nextIn, &availOut, &nextOut, nullptr);
        consume(available() - availIn);
        produced = capacity - availOut;
        switch (r) {
        case BROTLI_DECODER_RESULT_SUCCESS:
            return Step::Finished;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
            return Step::NeedInput;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
            return Step::Progress;
        default:
            return Step::Failed;
        }
    }

  private:
    BrotliDecoderState* state_;
};

// Browsers refuse zstd windows above 8 MiB; twice that is accepted here, and nothing larger,
// so that a hostile frame header cannot make the decoder allocate without bound.
constexpr int kZstdWindowLogMax = 24;

class ZstdDecoder final : public Decoder {
  public:
    ZstdDecoder(std::unique_ptr<BodyStream> in, std::uint64_t cap, std::size_t buffer)
        : Decoder(std::move(in), cap, buffer), ctx_(ZSTD_createDCtx()) {
        if (ctx_ != nullptr)
            ZSTD_DCtx_setParameter(ctx_, ZSTD_d_windowLogMax, kZstdWindowLogMax);
    }
    ~ZstdDecoder() override { ZSTD_freeDCtx(ctx_); }

  protected:
    Step decode(char* out, std::size_t capacity, std::size_t& produced) override {
        if (ctx_ == nullptr)
            return Step::Failed;
        if (available() == 0 && !inputEnded())
            return Step::NeedInput;
        // Frames may follow one another; the body ends cleanly only between frames.
        if (available() == 0 && !frameOpen_)
            return Step::Finished;
        ZSTD_inBuffer in{input(), available(), 0};
        ZSTD_outBuffer o{out, capacity, 0};
        const std::size_t rc = ZSTD_decompressStream(ctx_, &o, &in);
        consume(in.pos);
        produced = o.pos;
        if (ZSTD_isError(rc))
            return Step::Failed;
        frameOpen_ = rc != 0;
        if (in.pos == 0 && o.pos == 0)
            return Step::NeedInput;
        return Step::Progress;
    }

  private:
    ZSTD_DCtx* ctx_;
    bool frameOpen_ = false;
};

} // namespace

std::string TooLargeError(std::uint64_t cap) {
    return "the body decodes to more than " + std::to_string(cap) + " bytes";
}

std::unique_ptr<BodyStream> FailedStream(std::string error) {
    return std::make_unique<ErrorStream>(std::move(error));
}

std::unique_ptr<StoredStream> OpenStoredBody(std::vector<BodySegment> segments) {
    return std::make_unique<StoredBody>(std::move(segments));
}

void SetStoredReadHook(std::function<void(StoredReadPoint)> hook) {
    g_storedReadHook = std::move(hook);
}

std::unique_ptr<BodyStream> MemoryStream(std::string_view bytes) {
    return std::make_unique<MemoryBody>(bytes);
}

std::unique_ptr<BodyStream> DecodeStream(std::unique_ptr<BodyStream> raw,
                                         const std::vector<std::string>& encodings,
                                         std::uint64_t cap, std::size_t buffer) {
    // Applied left to right, so undone right to left.
    for (std::size_t i = encodings.size(); i-- > 0;) {
        const std::string& coding = encodings[i];
        if (coding == "gzip" || coding == "x-gzip")
            raw = std::make_unique<ZlibDecoder>(std::move(raw), cap, buffer, true);
        else if (coding == "deflate")
            raw = std::make_unique<ZlibDecoder>(std::move(raw), cap, buffer, false);
        else if (coding == "br")
            raw = std::make_unique<BrotliDecoder>(std::move(raw), cap, buffer);
        else if (coding == "zstd")
            raw = std::make_unique<ZstdDecoder>(std::move(raw), cap, buffer);
        else
            return FailedStream("the body is encoded as \"" + coding +
                                "\", which cannot be decoded");
    }
    return raw;
}

namespace {

// Holds the decoded body to exactly the size the scan listed, and checks that the stored
// files are unchanged once the decoded body ends (a decoder may stop before the last stored
// byte, so the stored stream cannot always tell by itself).
class Listed final : public BodyStream {
  public:
    Listed(std::unique_ptr<BodyStream> in, StoredStream& stored, std::uint64_t expected)
        : in_(std::move(in)), stored_(stored), expected_(expected) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
        if (!error_.empty())
            return -1;
        const std::ptrdiff_t got = in_->read(buffer, capacity);
        if (got < 0) {
            error_ = in_->error();
            return -1;
        }
        total_ += static_cast<std::uint64_t>(got);
        if (total_ > expected_ || (got == 0 && (total_ != expected_ || !stored_.verify()))) {
            error_ = kChangedSinceListed;
            return -1;
        }
        return got;
    }
    const std::string& error() const override { return error_; }

  private:
    std::unique_ptr<BodyStream> in_;
    StoredStream& stored_; // owned at the bottom of in_
    std::uint64_t expected_;
    std::uint64_t total_ = 0;
    std::string error_;
};

} // namespace
} // namespace detail

std::unique_ptr<BodyStream> OpenDecodedBody(const BodyLocation& body) {
    auto stored = detail::OpenStoredBody(body.segments);
    detail::StoredStream& bottom = *stored;
    auto decoded = detail::DecodeStream(std::move(stored), body.encodings, kMaxDecodedBody);
    return std::make_unique<detail::Listed>(std::move(decoded), bottom, body.decodedSize);
}

} // namespace browser
