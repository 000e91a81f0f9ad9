#include "LogicImport.h"

#include "RecordFile.h"
#include "SessionArchive.h"
#include "VcdSpan.h"
#include "WholeFile.h"

#include <libsigrok/libsigrok.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace imp {

namespace {

namespace fs = std::filesystem;

constexpr size_t kReadChunk = 4 << 20;
constexpr uint16_t kImportFirmwareBcd = 0x0100;
constexpr uint8_t kImportSerial[12] = {'L', 'O', 'G', 'I', 'C', 'I', 'M', 'P', 'O', 'R', 'T', '1'};

// The library's last error message, to name the cause when it gives up on a file.
std::string lastLibraryError;

int KeepError(void*, int level, const char* format, va_list args) {
    if (level <= SR_LOG_ERR) {
        char buf[512];
        std::vsnprintf(buf, sizeof buf, format, args);
        lastLibraryError = buf;
    }
    return SR_OK;
}

std::string RateText(uint64_t hz) {
    char buf[64];
    if (hz % 1000000 == 0) std::snprintf(buf, sizeof buf, "%llu MHz", (unsigned long long)(hz / 1000000));
    else if (hz >= 1000000) std::snprintf(buf, sizeof buf, "%.3f MHz", double(hz) / 1e6);
    else std::snprintf(buf, sizeof buf, "%llu Hz", (unsigned long long)hz);
    return buf;
}

// The record file being written: whole or not at all (a failure leaves nothing behind).
class CRecordOutput {
public:
    bool Open(const std::string& out, std::string* error) {
        if (!file.Open(out, 1 << 20)) {
            *error = file.Error();
            return false;
        }
        // Completed by Close. Written through at once: a child process reading the capture gets a copy
        // of the file's buffer, which must hold nothing it could ever write.
        const uint8_t header[64] = {0xF0, 0xFF};
        return file.WriteAt(0, header, sizeof header);
    }
    bool Write(const uint8_t* block) { return file.Write(block, 64); }
    // Rewrites the header block with the stream's length and puts the file in place.
    bool Close(uint64_t streamBytes, std::string* error) {
        uint8_t header[64] = {};
        enc::WriteClosedHeaderBlock(header, kImportFirmwareBcd, kImportSerial, streamBytes);
        // No VBUS sample gives the packets their origin: the converter's clock starts at 0 on the
        // first logic sample.
        rec::AddCaptureOriginEntry(header, 0);
        if (file.WriteAt(0, header, sizeof header) && file.Commit()) return true;
        *error = file.Error();
        return false;
    }

private:
    CWholeFile file;
};

std::vector<const sr_channel*> LogicChannels(const sr_dev_inst* sdi) {
    std::vector<const sr_channel*> logic;
    for (GSList* l = sdi ? sr_dev_inst_channels_get(sdi) : nullptr; l; l = l->next) {
        const auto* ch = static_cast<const sr_channel*>(l->data);
        if (ch->type == SR_CHANNEL_LOGIC) logic.push_back(ch);
    }
    return logic;
}

// The library for one import or listing: errors are kept to name the cause; its own log handler is back
// on every way out.
struct LibraryScope {
    LibraryScope() {
        lastLibraryError.clear();
        sr_log_callback_set(KeepError, nullptr);
        sr_log_loglevel_set(SR_LOG_ERR);
        if (sr_init(&ctx) != SR_OK) ctx = nullptr;
    }
    ~LibraryScope() {
        if (ctx) sr_exit(ctx);
        sr_log_callback_set_default();
    }
    LibraryScope(const LibraryScope&) = delete;
    LibraryScope& operator=(const LibraryScope&) = delete;
    sr_context* ctx = nullptr;
};

// Empty when the input is a file that can be tried; otherwise the line that says why not.
std::string InputProblem(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return path + ": " + std::strerror(ENOENT);
    if (fs::is_directory(path, ec)) return path + ": is a folder";
    return {};
}

std::string StoppedText(const ImportRequest& r) { return r.output + ": import stopped; nothing written"; }

using BlockSink = enc::CRecordEncoder::BlockSink;

// One import: the library's data feed goes to the converter once the sample rate and channels are
// known.
struct ImportRun {
    ImportRun(const ImportRequest& r, ImportReport& rep, BlockSink s) : request(r), report(rep), sink(std::move(s)) {}

    const ImportRequest& request;
    ImportReport& report;
    BlockSink sink;
    // In a child process: the failure goes to the parent at once and the child ends, however long the
    // library would go on.
    std::function<void()> failed;
    sr_session* session = nullptr;
    bool running = false; // a loaded session runs its own loop, which an error stops
    int bit[2] = {-1, -1};
    bool channelsKnown = false;
    std::unique_ptr<CLogicToRecord> converter;
    bool stop = false; // an error was reported; ignore the rest of the feed

    bool Cancelled() { return request.cancel && request.cancel->load() && !Fail(StoppedText(request)); }

    bool Fail(const std::string& line) {
        if (!stop) report.error = line;
        stop = true;
        if (failed) failed();
        if (running) sr_session_stop(session);
        return false;
    }

    // Channel names to bit indexes of the logic samples.
    bool ResolveChannels(const sr_dev_inst* sdi) {
        std::string names;
        const std::vector<const sr_channel*> logic = LogicChannels(sdi);
        for (const sr_channel* ch : logic) names += (names.empty() ? "" : ", ") + std::string(ch->name ? ch->name : "");
        const std::string* wanted[2] = {&request.cc1, &request.cc2};
        for (int c = 0; c < 2; ++c) {
            if (wanted[c]->empty()) continue;
            for (const sr_channel* ch : logic)
                if (ch->name && *wanted[c] == ch->name) bit[c] = ch->index;
            if (bit[c] < 0)
                return Fail(request.input + ": no logic channel named \"" + *wanted[c] + "\" (channels: " +
                            (names.empty() ? "none" : names) + ")");
            report.channelName[c] = *wanted[c];
        }
        channelsKnown = true;
        return true;
    }

    // A channel whose bit lies past the width of the samples would read as a line that never changes.
    bool ChannelsWithin(uint16_t unitsize) {
        for (int c = 0; c < 2; ++c) {
            if (bit[c] < 0 || bit[c] < int(unitsize) * 8) continue;
            return Fail(request.input + ": logic channel \"" + report.channelName[c] + "\" is bit " +
                        std::to_string(bit[c]) + ", past the " + std::to_string(int(unitsize) * 8) +
                        " bits of each sample");
        }
        return true;
    }

    bool SetSampleRate(uint64_t rate) {
        if (report.sampleRate != 0 && rate != report.sampleRate && converter)
            return Fail(request.input + ": the sample rate changes within the capture");
        report.sampleRate = rate;
        return true;
    }

    bool Start(const sr_dev_inst* sdi) {
        // A loaded session file tells its rate through its device, not in the feed.
        if (report.sampleRate == 0 && sdi) {
            GVariant* v = nullptr;
            if (const sr_dev_driver* driver = sr_dev_inst_driver_get(sdi);
                driver && sr_config_get(driver, sdi, nullptr, SR_CONF_SAMPLERATE, &v) == SR_OK && v) {
                report.sampleRate = g_variant_get_uint64(v);
                g_variant_unref(v);
            }
        }
        if (report.sampleRate == 0)
            return Fail(request.input + ": the capture gives no sample rate (raw binary: --format "
                                        "binary:samplerate=RATE)");
        if (report.sampleRate < kMinSampleRate)
            return Fail(request.input + ": sample rate " + RateText(report.sampleRate) +
                        " is too low for BMC (at least " + RateText(kMinSampleRate) + ")");
        LogicLayout layout;
        layout.sampleRate = report.sampleRate;
        layout.cc1Bit = bit[0];
        layout.cc2Bit = bit[1];
        layout.clockSetting = request.clockSetting;
        converter = std::make_unique<CLogicToRecord>(layout, sink);
        return true;
    }

    void Packet(const sr_dev_inst* sdi, const sr_datafeed_packet* packet) {
        if (stop) return;
        switch (packet->type) {
        case SR_DF_META: {
            const auto* meta = static_cast<const sr_datafeed_meta*>(packet->payload);
            for (GSList* l = meta->config; l; l = l->next) {
                const auto* cfg = static_cast<const sr_config*>(l->data);
                if (cfg->key == SR_CONF_SAMPLERATE && !SetSampleRate(g_variant_get_uint64(cfg->data))) return;
            }
            break;
        }
        case SR_DF_LOGIC: {
            if (Cancelled()) return;
            const auto* logic = static_cast<const sr_datafeed_logic*>(packet->payload);
            if (!channelsKnown && !ResolveChannels(sdi)) return;
            if (!ChannelsWithin(logic->unitsize)) return;
            if (!converter && !Start(sdi)) return;
            converter->AddSamples(static_cast<const uint8_t*>(logic->data), logic->length, logic->unitsize);
            break;
        }
        default:
            break;
        }
    }

    static void Feed(const sr_dev_inst* sdi, const sr_datafeed_packet* packet, void* data) {
        static_cast<ImportRun*>(data)->Packet(sdi, packet);
    }
};

// "6000000", "6M", "2.4MHz", "500k": a whole number, with k, M or G for 10^3, 10^6 or 10^9.
bool ParseRate(std::string text, uint64_t* out) {
    if (text.size() > 2 && (text.ends_with("Hz") || text.ends_with("hz"))) text.resize(text.size() - 2);
    double scale = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 'k': case 'K': scale = 1e3; break;
        case 'M': scale = 1e6; break;
        case 'G': scale = 1e9; break;
        default: break;
        }
        if (scale != 1) text.pop_back();
    }
    char* end = nullptr;
    const double d = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || !(d >= 0) || d * scale > 1e18) return false;
    const double value = d * scale;
    *out = uint64_t(value + 0.5);
    return std::abs(value - double(*out)) < 1e-6 * std::max(1.0, value);
}

using OptionTable = std::unique_ptr<GHashTable, void (*)(GHashTable*)>;

// "id:key=value:..." to the input module and its options, each value typed like the option's default.
const sr_input_module* ParseFormat(const std::string& format, OptionTable& options, std::string* error) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t colon = format.find(':', from);
        parts.push_back(format.substr(from, colon - from));
        if (colon == std::string::npos) break;
        from = colon + 1;
    }
    std::string id = parts[0];
    const sr_input_module* module = sr_input_find(id.data());
    if (!module) {
        std::string known;
        for (const sr_input_module** m = sr_input_list(); m && *m; ++m)
            known += (known.empty() ? "" : ", ") + std::string(sr_input_id_get(*m));
        *error = "unknown format \"" + id + "\" (formats: " + known + ")";
        return nullptr;
    }
    const sr_option** list = sr_input_options_get(module);
    for (size_t k = 1; k < parts.size(); ++k) {
        const size_t eq = parts[k].find('=');
        const std::string key = parts[k].substr(0, eq);
        std::string value = eq == std::string::npos ? "" : parts[k].substr(eq + 1);
        const sr_option* opt = nullptr;
        std::string keys;
        for (const sr_option** o = list; o && *o; ++o) {
            if (key == (*o)->id) opt = *o;
            keys += (keys.empty() ? "" : ", ") + std::string((*o)->id);
        }
        if (!opt || !opt->def) {
            *error = "format " + id + " has no option \"" + key + "\" (options: " + keys + ")";
            sr_input_options_free(list);
            return nullptr;
        }
        GVariant* v = nullptr;
        const GVariantType* type = g_variant_get_type(opt->def);
        char* end = nullptr;
        errno = 0;
        if (g_variant_type_equal(type, G_VARIANT_TYPE_UINT64)) {
            uint64_t n = 0;
            if (ParseRate(value, &n)) v = g_variant_new_uint64(n);
        } else if (g_variant_type_equal(type, G_VARIANT_TYPE_INT32)) {
            const long n = std::strtol(value.c_str(), &end, 0);
            if (!value.empty() && *end == 0 && errno == 0) v = g_variant_new_int32(int32_t(n));
        } else if (g_variant_type_equal(type, G_VARIANT_TYPE_UINT32)) {
            const unsigned long n = std::strtoul(value.c_str(), &end, 0);
            if (!value.empty() && *end == 0 && errno == 0) v = g_variant_new_uint32(uint32_t(n));
        } else if (g_variant_type_equal(type, G_VARIANT_TYPE_DOUBLE)) {
            const double d = std::strtod(value.c_str(), &end);
            if (!value.empty() && *end == 0) v = g_variant_new_double(d);
        } else if (g_variant_type_equal(type, G_VARIANT_TYPE_BOOLEAN)) {
            v = g_variant_new_boolean(sr_parse_boolstring(value.c_str()));
        } else if (g_variant_type_equal(type, G_VARIANT_TYPE_STRING)) {
            v = g_variant_new_string(value.c_str());
        }
        if (!v) {
            *error = "format " + id + ": option " + key + " cannot take \"" + value + "\"";
            sr_input_options_free(list);
            return nullptr;
        }
        g_hash_table_insert(options.get(), g_strdup(key.c_str()), g_variant_ref_sink(v));
    }
    sr_input_options_free(list);
    return module;
}

// The VCD reader's options that change how many samples it makes.
VcdOptions VcdOptionsOf(GHashTable* options) {
    VcdOptions o;
    auto value = [options](const char* key, int64_t def) {
        auto* v = static_cast<GVariant*>(g_hash_table_lookup(options, key));
        return v && g_variant_is_of_type(v, G_VARIANT_TYPE_INT32) ? int64_t(g_variant_get_int32(v)) : def;
    };
    o.skip = value("skip", o.skip);
    o.downsample = value("downsample", o.downsample);
    o.compress = uint32_t(value("compress", 0)); // the reader keeps it unsigned
    return o;
}

// The input module a --format names, with its options; nullptr with *error one line.
sr_input* NewInput(const std::string& format, std::string* error, VcdOptions* vcd = nullptr) {
    OptionTable options(g_hash_table_new_full(g_str_hash, g_str_equal, g_free,
                                              reinterpret_cast<GDestroyNotify>(g_variant_unref)),
                        g_hash_table_destroy);
    const sr_input_module* module = ParseFormat(format, options, error);
    if (!module) return nullptr;
    if (vcd) *vcd = VcdOptionsOf(options.get());
    sr_input* in = sr_input_new(module, options.get());
    if (!in)
        *error = "format " + std::string(sr_input_id_get(module)) + ": options not accepted" +
                 (lastLibraryError.empty() ? "" : " (" + lastLibraryError + ")");
    return in;
}

// A file for one of the library's input modules, read in chunks and fed through a session of ours.
// A VCD's samples are counted before each chunk goes in, to refuse one that would expand past the limit.
bool ReadWithInputModule(sr_context* ctx, const sr_input* in, const VcdOptions& vcd, ImportRun& run) {
    const std::string& path = run.request.input;
    if (sr_session_new(ctx, &run.session) != SR_OK) {
        run.session = nullptr;
        return run.Fail(path + ": libsigrok cannot start a session");
    }
    sr_session_datafeed_callback_add(run.session, ImportRun::Feed, &run);
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        sr_session_destroy(run.session);
        run.session = nullptr;
        return run.Fail(path + ": " + std::strerror(errno));
    }
    const std::string id = sr_input_id_get(sr_input_module_get(in));
    std::optional<CVcdSpan> span;
    if (id == "vcd") span.emplace(vcd);
    GString* buf = g_string_sized_new(kReadChunk);
    bool added = false, ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf->str, kReadChunk);
        if (n < 0) {
            ok = run.Fail(path + ": " + std::strerror(errno));
            break;
        }
        buf->len = size_t(n);
        if (span) {
            span->Add(buf->str, buf->len);
            if (span->Samples() > kMaxVcdSamples) {
                ok = run.Fail(path + ": the VCD expands to " + std::to_string(span->Samples()) +
                              " samples or more, over the limit of " + std::to_string(kMaxVcdSamples) +
                              " (format vcd:downsample=N makes N times fewer)");
                break;
            }
        }
        if (n > 0 && sr_input_send(in, buf) != SR_OK) {
            ok = run.Fail(path + ": cannot be read as " + id +
                          (lastLibraryError.empty() ? "" : " (" + lastLibraryError + ")"));
            break;
        }
        if (!added) {
            if (sr_dev_inst* sdi = sr_input_dev_inst_get(in)) {
                sr_session_dev_add(run.session, sdi);
                added = true;
            }
        }
        if (n == 0 || run.stop || run.Cancelled()) break;
    }
    ::close(fd);
    g_string_free(buf, TRUE);
    if (ok && !run.stop && sr_input_end(in) != SR_OK) ok = run.Fail(path + ": cannot be read as " + id);
    // The session refers to the input's device: it goes first, before the caller frees the input.
    sr_session_destroy(run.session);
    run.session = nullptr;
    return ok && !run.stop;
}

bool ReadSession(sr_session* session, ImportRun& run) {
    run.session = session;
    sr_session_datafeed_callback_add(session, ImportRun::Feed, &run);
    GSList* devices = nullptr;
    if (sr_session_dev_list(session, &devices) != SR_OK || !devices)
        return run.Fail(run.request.input + ": the session holds no device");
    g_slist_free(devices);
    run.running = true;
    if (sr_session_start(session) != SR_OK || sr_session_run(session) != SR_OK)
        return run.Fail(run.request.input + ": the session cannot be read" +
                        (lastLibraryError.empty() ? "" : " (" + lastLibraryError + ")"));
    return !run.stop;
}

// The capture through the library to the record stream's blocks, handed to sink; the report gets
// everything but the file's size, *streamBytes the stream's. false with report.error set.
bool ReadCapture(const ImportRequest& r, ImportReport& report, const BlockSink& sink,
                 const std::function<void()>& failed, uint64_t* streamBytes) {
    LibraryScope library;
    sr_context* ctx = library.ctx;
    if (!ctx) {
        report.error = "libsigrok cannot be initialised";
        if (failed) failed();
        return false;
    }
    ImportRun run(r, report, sink);
    run.failed = failed;
    bool read = false;
    if (!r.format.empty()) {
        VcdOptions vcd;
        if (sr_input* in = NewInput(r.format, &report.error, &vcd)) {
            report.format = sr_input_id_get(sr_input_module_get(in));
            read = ReadWithInputModule(ctx, in, vcd, run);
            sr_input_free(in);
        } else if (failed) {
            failed();
        }
    } else {
        std::string damage;
        sr_session* session = nullptr;
        const ArchiveCheck archive = CheckSessionArchive(r.input, r.cancel, &damage);
        if (archive == ArchiveCheck::Damaged) {
            run.Fail(damage);
        } else if (archive == ArchiveCheck::Stopped) {
            run.Fail(StoppedText(r));
        } else if (sr_session_load(ctx, r.input.c_str(), &session) == SR_OK) {
            report.format = "session";
            read = ReadSession(session, run);
        } else {
            lastLibraryError.clear();
            const sr_input* in = nullptr;
            if (sr_input_scan_file(r.input.c_str(), &in) == SR_OK && in) {
                report.format = sr_input_id_get(sr_input_module_get(in));
                read = ReadWithInputModule(ctx, in, VcdOptions{}, run);
                sr_input_free(in);
            } else {
                run.Fail(r.input + ": not a logic capture libsigrok can read (--format names the format)");
            }
        }
        session = run.session;
        if (session) sr_session_destroy(session);
        run.session = nullptr;
    }
    if (run.session) sr_session_destroy(run.session);
    if (read && !run.converter) read = run.Fail(r.input + ": the capture holds no logic samples");
    if (!read) return false;
    run.converter->Finish();
    report.samples = run.converter->Samples();
    for (int c = 0; c < 2; ++c) report.tally[c] = run.converter->Tally(c);
    report.moved = run.converter->MovedTransitions();
    *streamBytes = run.converter->BytesWritten();
    return true;
}

// What goes from the child process to the parent: the record stream's blocks ('B' and 64 bytes),
// then the report ('R', its length and the report).
constexpr char kBlockTag = 'B', kReportTag = 'R';

class CReportWriter {
public:
    void Number(uint64_t v) { text.append(reinterpret_cast<const char*>(&v), sizeof v); }
    void Text(const std::string& s) {
        Number(s.size());
        text += s;
    }
    std::string text;
};

class CReportReader {
public:
    CReportReader(const uint8_t* p, size_t n) : at(p), end(p + n) {}
    uint64_t Number() {
        uint64_t v = 0;
        if (size_t(end - at) < sizeof v) return bad = true, 0;
        std::memcpy(&v, at, sizeof v);
        at += sizeof v;
        return v;
    }
    std::string Text() {
        const uint64_t n = Number();
        if (uint64_t(end - at) < n) return bad = true, std::string();
        std::string s(reinterpret_cast<const char*>(at), size_t(n));
        at += n;
        return s;
    }
    bool bad = false;

private:
    const uint8_t *at, *end;
};

std::string ReportBytes(bool read, const ImportReport& r, uint64_t streamBytes) {
    CReportWriter w;
    w.Number(read);
    w.Text(r.error);
    w.Text(r.format);
    w.Number(r.sampleRate);
    w.Number(r.samples);
    for (int c = 0; c < 2; ++c) {
        w.Text(r.channelName[c]);
        w.Number(r.tally[c].changes);
        w.Number(r.tally[c].cancelled);
        w.Number(r.tally[c].written);
    }
    w.Number(r.moved);
    w.Number(streamBytes);
    return w.text;
}

bool ReportFromBytes(const uint8_t* p, size_t n, bool* read, ImportReport& r, uint64_t* streamBytes) {
    CReportReader in(p, n);
    *read = in.Number() != 0;
    r.error = in.Text();
    r.format = in.Text();
    r.sampleRate = in.Number();
    r.samples = in.Number();
    for (int c = 0; c < 2; ++c) {
        r.channelName[c] = in.Text();
        r.tally[c].changes = in.Number();
        r.tally[c].cancelled = in.Number();
        r.tally[c].written = in.Number();
    }
    r.moved = in.Number();
    *streamBytes = in.Number();
    return !in.bad;
}

// The child's end of the pipe, written in large pieces.
class CPipeOut {
public:
    explicit CPipeOut(int f) : fd(f) {}
    void Block(const uint8_t* block) {
        buf += kBlockTag;
        buf.append(reinterpret_cast<const char*>(block), 64);
        if (buf.size() >= (1 << 16)) Flush();
    }
    void Report(const std::string& bytes) {
        buf += kReportTag;
        const uint32_t n = uint32_t(bytes.size());
        buf.append(reinterpret_cast<const char*>(&n), sizeof n);
        buf += bytes;
        Flush();
    }

private:
    void Flush() {
        size_t done = 0;
        while (done < buf.size()) {
            const ssize_t n = ::write(fd, buf.data() + done, buf.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(1); // the parent is gone
            done += size_t(n);
        }
        buf.clear();
    }

    int fd;
    std::string buf;
};

[[noreturn]] void ChildImport(const ImportRequest& r, int fd, pid_t parent) {
    // Ends with the parent, should that end without a word to the child.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(1);
    CPipeOut out(fd);
    ImportReport report;
    uint64_t streamBytes = 0;
    bool read = false;
    // No destructors on the way out: the parent's file and library state are only copies here.
    const auto finish = [&] {
        out.Report(ReportBytes(read, report, streamBytes));
        _exit(0);
    };
    read = ReadCapture(r, report, [&out](const uint8_t* b) { out.Block(b); }, finish, &streamBytes);
    finish();
    _exit(0);
}

// The capture read in a child process, which sends the blocks and then its report through a pipe
// while this process writes the file. A stop request ends the child at once, whatever the library
// is doing in it (filling in a VCD's samples, waiting on a pipe); nothing of the output is left.
bool ReadInChild(const ImportRequest& r, ImportReport& report, CRecordOutput& output, uint64_t* streamBytes) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        report.error = std::string("cannot start the import: ") + std::strerror(errno);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        report.error = std::string("cannot start the import: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (child == 0) {
        ::close(fds[0]);
        ChildImport(r, fds[1], parent);
    }
    ::close(fds[1]);
    const int fd = fds[0];
    std::vector<uint8_t> pending;
    std::vector<uint8_t> buf(1 << 16);
    bool reported = false, read = false, stopped = false;
    uint64_t received = 0;
    for (;;) {
        if (r.cancel && r.cancel->load()) {
            stopped = true;
            ::kill(child, SIGKILL);
            break;
        }
        // Every 50 ms, and at once after a signal, the stop request is looked at again.
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 50);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.insert(pending.end(), buf.begin(), buf.begin() + n);
        size_t at = 0;
        while (at < pending.size()) {
            if (pending[at] == uint8_t(kBlockTag) && pending.size() - at >= 65) {
                output.Write(pending.data() + at + 1);
                received += 64;
                at += 65;
            } else if (pending[at] == uint8_t(kReportTag) && pending.size() - at >= 5) {
                uint32_t size = 0;
                std::memcpy(&size, pending.data() + at + 1, sizeof size);
                if (pending.size() - at - 5 < size) break;
                reported = ReportFromBytes(pending.data() + at + 5, size, &read, report, streamBytes);
                at += 5 + size;
            } else {
                break;
            }
        }
        pending.erase(pending.begin(), pending.begin() + ptrdiff_t(at));
    }
    ::close(fd);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (stopped) {
        report.error = StoppedText(r);
        return false;
    }
    if (!reported || (read && received != *streamBytes)) {
        report.error = r.input + ": the import ended unexpectedly (" +
                       (WIFSIGNALED(status) ? std::string(strsignal(WTERMSIG(status)))
                                            : "status " + std::to_string(WEXITSTATUS(status))) +
                       ")";
        return false;
    }
    return read;
}

} // namespace

ImportReport ImportLogicCapture(const ImportRequest& r) {
    ImportReport report;
    auto fail = [&](const std::string& line) {
        report.error = line;
        return report;
    };
    if (std::string problem = InputProblem(r.input); !problem.empty()) return fail(problem);
    std::error_code ec;
    if (fs::exists(r.output, ec)) {
        if (fs::equivalent(r.input, r.output, ec)) return fail(r.output + ": is the input file; choose another output");
        if (fs::is_directory(r.output, ec)) return fail(r.output + ": is a folder");
        if (!r.overwrite) return fail(r.output + ": exists already (--overwrite replaces it)");
    }
    CRecordOutput output;
    if (!output.Open(r.output, &report.error)) return report;
    uint64_t streamBytes = 0;
    bool read = r.separateProcess
                    ? ReadInChild(r, report, output, &streamBytes)
                    : ReadCapture(r, report, [&output](const uint8_t* b) { output.Write(b); }, {}, &streamBytes);
    if (read) {
        report.bytes = 64 + streamBytes;
        read = output.Close(streamBytes, &report.error);
    }
    report.ok = read;
    return report;
}

namespace {

// An input module names its channels once it has seen the start of the file; the data it sends on
// the way goes nowhere.
void ChannelsFromInput(sr_context* ctx, sr_input* in, const std::string& path, std::vector<std::string>* names,
                       std::string* error) {
    sr_session* session = nullptr;
    if (sr_session_new(ctx, &session) != SR_OK) {
        *error = path + ": libsigrok cannot start a session";
        return;
    }
    sr_session_datafeed_callback_add(
        session, [](const sr_dev_inst*, const sr_datafeed_packet*, void*) {}, nullptr);
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        sr_session_destroy(session);
        return;
    }
    GString* buf = g_string_sized_new(kReadChunk);
    const sr_dev_inst* sdi = nullptr;
    bool sendFailed = false;
    // A few chunks at most: a capture whose channels are not declared by then is not one to list.
    for (int chunk = 0; chunk < 4 && !sdi && !sendFailed; ++chunk) {
        const ssize_t n = ::read(fd, buf->str, kReadChunk);
        if (n <= 0) {
            sr_input_end(in);
        } else {
            buf->len = size_t(n);
            sendFailed = sr_input_send(in, buf) != SR_OK;
        }
        if ((sdi = sr_input_dev_inst_get(in))) sr_session_dev_add(session, const_cast<sr_dev_inst*>(sdi));
        if (n <= 0) break;
    }
    ::close(fd);
    g_string_free(buf, TRUE);
    for (const sr_channel* ch : LogicChannels(sdi)) names->push_back(ch->name ? ch->name : "");
    if (names->empty())
        *error = path + ": cannot be read as " + sr_input_id_get(sr_input_module_get(in)) +
                 (lastLibraryError.empty() ? "" : " (" + lastLibraryError + ")");
    // The session refers to the input's device: it goes first.
    sr_session_destroy(session);
}

} // namespace

std::vector<CaptureFormat> ReadableCaptureFormats() {
    // Session files are read by the library itself, not by an input module.
    std::vector<CaptureFormat> formats = {{"session", "sigrok session file", {"sr"}}};
    const sr_input_module** modules = sr_input_list();
    for (size_t i = 0; modules && modules[i]; ++i) {
        CaptureFormat f;
        for (const char* const* e = sr_input_extensions_get(modules[i]); e && *e; ++e) f.extensions.push_back(*e);
        if (f.extensions.empty()) continue;
        const char* id = sr_input_id_get(modules[i]);
        const char* description = sr_input_description_get(modules[i]);
        f.id = id ? id : "";
        f.description = description ? description : f.id;
        formats.push_back(std::move(f));
    }
    return formats;
}

bool ListLogicChannels(const std::string& path, const std::string& format, std::vector<std::string>* names,
                       std::string* error) {
    names->clear();
    error->clear();
    if (std::string problem = InputProblem(path); !problem.empty()) {
        *error = problem;
        return false;
    }
    LibraryScope library;
    if (!library.ctx) {
        *error = "libsigrok cannot be initialised";
        return false;
    }
    if (!format.empty()) {
        sr_input* in = NewInput(format, error);
        if (!in) return false;
        ChannelsFromInput(library.ctx, in, path, names, error);
        sr_input_free(in);
    } else if (sr_session* session = nullptr; sr_session_load(library.ctx, path.c_str(), &session) == SR_OK) {
        GSList* devices = nullptr;
        if (sr_session_dev_list(session, &devices) == SR_OK && devices)
            for (const sr_channel* ch : LogicChannels(static_cast<const sr_dev_inst*>(devices->data)))
                names->push_back(ch->name ? ch->name : "");
        g_slist_free(devices);
        sr_session_destroy(session);
        if (names->empty()) *error = path + ": the capture has no logic channels";
    } else {
        lastLibraryError.clear();
        const sr_input* in = nullptr;
        if (sr_input_scan_file(path.c_str(), &in) != SR_OK || !in) {
            *error = path + ": not a logic capture libsigrok can read";
            return false;
        }
        ChannelsFromInput(library.ctx, const_cast<sr_input*>(in), path, names, error);
        sr_input_free(in);
    }
    return error->empty();
}

} // namespace imp
