#include "DbSession.h"

#include <sybdb.h>
#include <sybfront.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Options.h"
#include "Printer.h"

namespace quill::sqlcmd {

namespace {

const char kDriver[] = "FreeTDS DB-Library";

// uniqueidentifier: DB-Library reports the server's type number but names no constant.
constexpr int kUniqueIdentifier = 36;
DbSession* g_session = nullptr;

int messageHandler(DBPROCESS*, DBINT number, int state, int severity, char* text, char* server,
                   char* procedure, int line) {
    if (g_session) {
        g_session->onMessage(number, state, severity, text, server, procedure, line);
    }
    return 0;
}

int errorHandler(DBPROCESS*, int, int dbError, int osError, char* text, char* osText) {
    return g_session ? g_session->onError(dbError, osError, text, osText) : INT_CANCEL;
}

// DB-Library asks these whenever a wait for the server is interrupted by a
// signal, and once a second while it waits.
int checkInterrupt(void*) {
    return g_session && g_session->interruptPending() ? TRUE : FALSE;
}
int handleInterrupt(void*) {
    return g_session ? g_session->onInterrupt() : INT_CONTINUE;
}

bool isNumeric(int type) {
    switch (type) {
        case SYBINT1:
        case SYBINT2:
        case SYBINT4:
        case SYBINT8:
        case SYBBIT:
        case SYBFLT8:
        case SYBREAL:
        case SYBMONEY:
        case SYBMONEY4:
        case SYBDECIMAL:
        case SYBNUMERIC:
            return true;
        default:
            return false;
    }
}

// The server's own type numbers for character and binary columns. DB-Library
// reports those columns as converted to the client's character set, with
// lengths in UTF-8 bytes; sqlcmd's widths count declared characters.
enum ServerType {
    kBinary = 0xAD,
    kVarBinary = 0xA5,
    kChar = 0xAF,
    kVarChar = 0xA7,
    kNChar = 0xEF,
    kNVarChar = 0xE7,
};

// Declared length in characters (or bytes for binary), 0 for (max) types,
// -1 when the server's type is not known.
long declaredLength(DBPROCESS* dbproc, int column) {
    DBCOL2 info{};
    info.SizeOfStruct = sizeof info;
    if (dbtablecolinfo(dbproc, column, reinterpret_cast<DBCOL*>(&info)) != SUCCEED) {
        return -1;
    }
    const long bytes = info.ServerMaxLength;
    const bool max = bytes <= 0 || bytes == 0xFFFF || bytes > 8000;
    switch (info.ServerType) {
        case kNChar:
        case kNVarChar:
            return max ? 0 : bytes / 2;
        case kChar:
        case kVarChar:
        case kBinary:
        case kVarBinary:
            return max ? 0 : bytes;
        default:
            return -1;
    }
}

// How wide sqlcmd shows a column of this type; SIZE_MAX: as wide as its values.
std::size_t typeWidth(int type, long length, const DBTYPEINFO* info, const Options& o) {
    const std::size_t varWidth =
        o.maxVarWidth > 0 ? static_cast<std::size_t>(o.maxVarWidth) : SIZE_MAX;
    auto fixed = [&](long n) {
        return o.maxFixedWidth > 0 && n > o.maxFixedWidth
                   ? static_cast<std::size_t>(o.maxFixedWidth)
                   : static_cast<std::size_t>(n);
    };
    // (max) types and the old large types report no length, or a huge one.
    const bool large = length <= 0 || length > 8000;
    switch (type) {
        case SYBINT1:
            return 3;
        case SYBINT2:
            return 6;
        case SYBINT4:
            return 11;
        case SYBINT8:
            return 21;
        case SYBBIT:
            return 1;
        case SYBFLT8:
        case SYBMONEY:
            return 24;
        case SYBREAL:
        case SYBMONEY4:
            return 14;
        case SYBDATETIME:
            return 23;
        case SYBDATETIME4:
            return 19;
        case SYBMSDATE:
            return 10;
        case SYBMSTIME:
            return 16;
        case SYBMSDATETIME2:
            return 27;
        case SYBMSDATETIMEOFFSET:
            return 34;
        case kUniqueIdentifier:
            return 36;
        case SYBDECIMAL:
        case SYBNUMERIC:
            return static_cast<std::size_t>(info ? info->precision + 2 : 40);
        case SYBTEXT:
        case SYBNTEXT:
        case SYBIMAGE:
            return varWidth;
        case SYBBINARY:
        case SYBVARBINARY:
            return large ? varWidth : fixed(2 * length + 2);
        default:
            return large ? varWidth : fixed(length);
    }
}

std::string hex(const BYTE* data, int length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    s.reserve(2 + 2 * static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

std::string money(std::int64_t tenThousandths) {
    char buf[32];
    const bool negative = tenThousandths < 0;
    std::uint64_t v = negative ? 0 - static_cast<std::uint64_t>(tenThousandths)
                               : static_cast<std::uint64_t>(tenThousandths);
    std::snprintf(buf, sizeof buf, "%s%" PRIu64 ".%04" PRIu64, negative ? "-" : "", v / 10000,
                  v % 10000);
    return buf;
}

std::string value(DBPROCESS* dbproc, int type, const BYTE* data, int length) {
    char buf[128];
    auto get = [&](auto v) {
        std::memcpy(&v, data, sizeof v);
        return v;
    };
    switch (type) {
        case SYBINT1:
            return std::to_string(get(std::uint8_t{}));
        case SYBINT2:
            return std::to_string(get(std::int16_t{}));
        case SYBINT4:
            return std::to_string(get(std::int32_t{}));
        case SYBINT8:
            return std::to_string(get(std::int64_t{}));
        case SYBBIT:
            return data[0] ? "1" : "0";
        case SYBFLT8:
        case SYBREAL: {
            double d = type == SYBFLT8 ? get(double{}) : get(float{});
            std::snprintf(buf, sizeof buf, type == SYBFLT8 ? "%.17g" : "%.8g", d);
            std::string s = buf;
            if (s.find_first_of(".eEn") == std::string::npos) {
                s += ".0";
            }
            return s;
        }
        case SYBMONEY: {
            DBMONEY m = get(DBMONEY{});
            return money(static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(m.mnyhigh)) << 32) |
                m.mnylow));
        }
        case SYBMONEY4:
            return money(get(DBMONEY4{}).mny4);
        case SYBDATETIME:
        case SYBDATETIME4:
        case SYBMSDATE:
        case SYBMSTIME:
        case SYBMSDATETIME2:
        case SYBMSDATETIMEOFFSET: {
            DBDATEREC2 d{};
            if (dbanydatecrack(dbproc, &d, type, data) != SUCCEED) {
                break;
            }
            char date[48], time[64];
            std::snprintf(date, sizeof date, "%04d-%02d-%02d", d.dateyear, d.datemonth + 1,
                          d.datedmonth);
            if (type == SYBMSDATE) {
                return date;
            }
            if (type == SYBDATETIME4) {
                std::snprintf(time, sizeof time, "%02d:%02d:%02d", d.datehour, d.dateminute,
                              d.datesecond);
            } else if (type == SYBDATETIME) {
                std::snprintf(time, sizeof time, "%02d:%02d:%02d.%03d", d.datehour, d.dateminute,
                              d.datesecond, d.datensecond / 1000000);
            } else {
                std::snprintf(time, sizeof time, "%02d:%02d:%02d.%07d", d.datehour, d.dateminute,
                              d.datesecond, d.datensecond / 100);
            }
            if (type == SYBMSTIME) {
                return time;
            }
            std::string s = std::string(date) + " " + time;
            if (type == SYBMSDATETIMEOFFSET) {
                const int tz = d.datetzone;
                std::snprintf(buf, sizeof buf, " %c%02d:%02d", tz < 0 ? '-' : '+',
                              std::abs(tz) / 60, std::abs(tz) % 60);
                s += buf;
            }
            return s;
        }
        case SYBBINARY:
        case SYBVARBINARY:
        case SYBIMAGE:
            return hex(data, length);
        case SYBCHAR:
        case SYBVARCHAR:
        case SYBNVARCHAR:
        case SYBNTEXT:
        case SYBTEXT:
            return std::string(reinterpret_cast<const char*>(data),
                               static_cast<std::size_t>(length));
        default:
            break;
    }
    std::string out(static_cast<std::size_t>(length) * 4 + 64, '\0');
    DBINT n = dbconvert(dbproc, type, data, length, SYBCHAR, reinterpret_cast<BYTE*>(out.data()),
                        static_cast<DBINT>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!out.empty() && out.back() == '\0') {
        out.pop_back();
    }
    return out;
}

TableOptions tableOptions(const Options& o) {
    TableOptions t;
    t.separator = o.columnSeparator;
    t.headers = o.headers;
    t.trimSpaces = o.trimSpaces;
    t.width = o.width;
    return t;
}

std::string sessionSetup(bool quotedIdentifier) {
    // What an ODBC connection starts with, then sqlcmd's QUOTED_IDENTIFIER.
    return std::string(
               "SET ANSI_NULLS ON\nSET ANSI_PADDING ON\nSET ANSI_WARNINGS ON\n"
               "SET ANSI_NULL_DFLT_ON ON\nSET CONCAT_NULL_YIELDS_NULL ON\n"
               "SET TEXTSIZE 2147483647\nSET QUOTED_IDENTIFIER ") +
           (quotedIdentifier ? "ON" : "OFF");
}

}  // namespace

DbSession::DbSession(const Options& options, Printer& printer)
    : options_(options), printer_(printer), table_(tableOptions(options)) {}

DbSession::~DbSession() {
    if (dbproc_) {
        dbclose(dbproc_);
    }
    if (g_session == this) {
        g_session = nullptr;
    }
    dbexit();
}

std::unique_ptr<DbSession> DbSession::open(const Options& o, const ServerAddress& address,
                                           Printer& printer) {
    std::unique_ptr<DbSession> s(new DbSession(o, printer));
    if (dbinit() == FAIL) {
        printer.error(std::string(kDriver) + " : cannot be initialised.");
        return nullptr;
    }
    g_session = s.get();
    dberrhandle(errorHandler);
    dbmsghandle(messageHandler);

    LOGINREC* login = dblogin();
    if (!login) {
        printer.error(std::string(kDriver) + " : out of memory.");
        return nullptr;
    }
    if (!o.trusted && !o.user.empty()) {
        DBSETLUSER(login, o.user.c_str());
        DBSETLPWD(login, o.password.value_or("").c_str());
    }
    DBSETLAPP(login, "SQLCMD");
    DBSETLCHARSET(login, "UTF-8");
    if (!o.database.empty()) {
        DBSETLDBNAME(login, o.database.c_str());
    }
    if (!o.workstation.empty()) {
        DBSETLHOST(login, o.workstation.c_str());
    }
    DBSETLPACKET(login, o.packetSize > 0 ? o.packetSize : kDefaultPacketSize);
    if (o.encrypt) {
        DBSETLENCRYPT(login, TRUE);
    }
    // 0 means no limit to sqlcmd; DB-Library's largest is as good.
    dbsetlogintime(o.loginTimeout > 0 ? o.loginTimeout : 65534);
    if (o.queryTimeout > 0) {
        dbsettime(o.queryTimeout);
    }
    std::string server = address.host;
    if (!address.instance.empty() && address.port == 0) {
        server += "\\" + address.instance;
    } else {
        server += ":" + std::to_string(address.port);
    }
    s->server_ = server;
    s->dbproc_ = dbopen(login, server.c_str());
    dbloginfree(login);
    if (!s->dbproc_) {
        if (!s->loginMessagePrinted_) {
            printer.error(std::string(kDriver) + " : Unable to connect to server '" + server +
                          "'.");
        }
        return nullptr;
    }
    s->loggingIn_ = false;
    ExecResult setup;
    s->quiet_ = true;
    if (!s->run(sessionSetup(o.quotedIdentifier), setup) || setup.maxSeverity > 10) {
        printer.error(std::string(kDriver) + " : the session could not be set up.");
        return nullptr;
    }
    s->quiet_ = false;
    return s;
}

void DbSession::setInterruptCheck(bool (*interrupted)()) {
    interrupted_ = interrupted;
    dbsetinterrupt(dbproc_, interrupted ? checkInterrupt : nullptr,
                   interrupted ? handleInterrupt : nullptr);
}

bool DbSession::interruptPending() const {
    return !sending_ && !attentionSent_ && interrupted();
}

int DbSession::onInterrupt() {
    // DB-Library reports this as a timeout, which onError answers with
    // INT_TIMEOUT: send the attention and go on reading up to its
    // confirmation; the connection stays usable.
    attentionSent_ = true;
    return INT_CANCEL;
}

void DbSession::cancel() {
    attentionSent_ = true;
    dbcancel(dbproc_);
    if (result_) {
        result_->cancelled = true;
    }
}

std::size_t DbSession::batchLimit() const {
    // The server takes at most 65,536 packets for one batch.
    const std::size_t packet = static_cast<std::size_t>(dbgetpacket(dbproc_));
    return 65536 * (packet - 8) - 64;
}

void DbSession::onMessage(long number, int state, int severity, const char* text,
                          const char* server, const char* procedure, int line) {
    if (loggingIn_) {
        // Database and language changes at login are not news; failures are,
        // once: the first says why ("Cannot open database"), the rest repeat it.
        if (severity > 10 && !loginMessagePrinted_) {
            std::string t = text ? text : "";
            printer_.error(std::string(kDriver) + " : " + t);
            loginMessagePrinted_ = true;
        }
        return;
    }
    if (result_) {
        if (severity > 10) {
            result_->maxSeverity = std::max(result_->maxSeverity, severity);
            ++result_->errors;
        }
        if (state == 127 && !result_->abortCode) {
            result_->abortCode = number;
        }
    }
    if (quiet_ && severity <= 10) {
        return;
    }
    ServerMessage m;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.server = server ? server : "";
    m.procedure = procedure ? procedure : "";
    m.line = line;
    if (batch_ && m.procedure.empty() && line > 0) {
        m.line = batch_->topLine(line);
    }
    m.text = text ? text : "";
    printer_.serverMessage(m);
}

int DbSession::onError(int dbError, int osError, const char* text, const char* osText) {
    if (dbError == SYBETIME && attentionSent_ && !loggingIn_) {
        return INT_TIMEOUT;  // our own interrupt: cancel, wait for the confirmation
    }
    if (dbError == SYBESMSG) {
        return INT_CANCEL;  // the server's own message has been printed
    }
    if (loggingIn_ && loginMessagePrinted_) {
        return INT_CANCEL;  // "Login incorrect" after the server said why
    }
    std::string t = text ? text : "";
    if (dbError == SYBETIME) {
        t = loggingIn_ ? "Login timeout expired" : "Query timeout expired";
    } else if (dbError == SYBECONN) {
        t = "Unable to connect to server '" + server_ + "'";
    }
    if (osError != 0 && osText && *osText) {
        t += std::string(" (") + osText + ")";
    }
    printer_.error(std::string(kDriver) + " : " + t);
    if (loggingIn_) {
        loginMessagePrinted_ = true;
    }
    if (result_) {
        result_->maxSeverity = std::max(result_->maxSeverity, 16);
        ++result_->errors;
    }
    return INT_CANCEL;
}

bool DbSession::run(const std::string& text, ExecResult& result) {
    result_ = &result;
    attentionSent_ = false;
    sending_ = true;
    bool ok = dbcmd(dbproc_, text.c_str()) == SUCCEED && dbsqlsend(dbproc_) == SUCCEED;
    sending_ = false;
    if (ok && interrupted()) {
        cancel();
        ok = false;
    } else if (ok) {
        ok = dbsqlok(dbproc_) == SUCCEED;
        if (attentionSent_) {
            cancel();  // the attention went out while waiting; drain to its confirmation
            ok = false;
        }
    }
    if (ok) {
        RETCODE rc;
        while ((rc = dbresults(dbproc_)) != NO_MORE_RESULTS) {
            if (attentionSent_ || interrupted()) {
                cancel();
                break;
            }
            if (rc == FAIL) {
                if (DBDEAD(dbproc_)) {
                    break;
                }
                continue;
            }
            if (dbnumcols(dbproc_) > 0) {
                printResultSet();
                if (result.cancelled) {
                    break;
                }
            }
            if (!quiet_ && dbiscount(dbproc_)) {
                RowsAffectedBuffer buffer;
                printer_.text(formatRowsAffected(DBCOUNT(dbproc_), buffer));
            } else if (!quiet_ && dbnumcols(dbproc_) > 0) {
                printer_.text("\n");
            }
        }
    } else if (!result.cancelled) {
        dbcancel(dbproc_);
    }
    if (DBDEAD(dbproc_)) {
        result.connectionLost = true;
        ok = false;
    }
    result_ = nullptr;
    return ok;
}

void DbSession::printResultSet() {
    const int columns = dbnumcols(dbproc_);
    std::vector<ColumnFormat> formats;
    std::vector<int> types;
    for (int c = 1; c <= columns; ++c) {
        const int type = dbcoltype(dbproc_, c);
        types.push_back(type);
        ColumnFormat f;
        const char* name = dbcolname(dbproc_, c);
        f.name = name ? name : "";
        const long declared = declaredLength(dbproc_, c);
        const long length = declared >= 0 ? declared : dbcollen(dbproc_, c);
        const std::size_t width = typeWidth(type, length, dbcoltypeinfo(dbproc_, c), options_);
        f.unlimited = width == SIZE_MAX;
        f.width = f.unlimited ? 0 : width;
        f.rightAlign = isNumeric(type);
        formats.push_back(std::move(f));
    }
    if (!quiet_) {
        printer_.text(table_.begin(std::move(formats)));
    }
    std::vector<std::optional<std::string>> values(static_cast<std::size_t>(columns));
    lastValue_.reset();
    RETCODE rc;
    while ((rc = dbnextrow(dbproc_)) != NO_MORE_ROWS && rc != FAIL) {
        if (attentionSent_ || interrupted()) {
            cancel();
            return;
        }
        for (int c = 1; c <= columns; ++c) {
            BYTE* data = dbdata(dbproc_, c);
            const int length = dbdatlen(dbproc_, c);
            auto& v = values[static_cast<std::size_t>(c - 1)];
            if (!data) {
                v.reset();
            } else {
                v = value(dbproc_, types[static_cast<std::size_t>(c - 1)], data, length);
            }
        }
        if (wantValue_) {
            lastValue_ = values[0].value_or(std::string());
        }
        if (!quiet_) {
            printer_.text(table_.row(values));
        }
    }
}

ExecResult DbSession::execute(const Batch& batch, long repeat) {
    ExecResult result;
    batch_ = &batch;
    for (long i = 0; i < repeat && !result.connectionLost && !result.abortCode && !result.cancelled;
         ++i) {
        if (i > 0 && interrupted()) {
            result.cancelled = true;  // GO n: the runs so far stay applied
            break;
        }
        run(batch.text, result);
    }
    batch_ = nullptr;
    return result;
}

ExecResult DbSession::executeForValue(const Batch& batch) {
    ExecResult result;
    batch_ = &batch;
    wantValue_ = true;
    run(batch.text, result);
    batch_ = nullptr;
    wantValue_ = false;
    if (result.maxSeverity > 10) {
        result.exitValue = -100;
    } else if (!lastValue_) {
        result.exitValue = -101;
    } else {
        char* end = nullptr;
        long v = std::strtol(lastValue_->c_str(), &end, 10);
        result.exitValue = (end && *end == '\0' && !lastValue_->empty()) ? v : -102;
    }
    return result;
}

}  // namespace quill::sqlcmd
