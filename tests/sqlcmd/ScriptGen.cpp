#include "ScriptGen.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace quill::test {

namespace {

class Writer {
public:
    Writer(const std::string& path, bool utf16, bool crlf)
        : utf16_(utf16), eol_(crlf ? "\r\n" : "\n") {
        f_ = std::fopen(path.c_str(), "wb");
        if (!f_) {
            throw std::runtime_error("cannot write " + path);
        }
        if (utf16_) {
            raw("\xFF\xFE");
        }
    }
    ~Writer() {
        flush();
        std::fclose(f_);
    }
    void line(const std::string& s) {
        text(s);
        text(eol_);
    }
    void text(const std::string& s) {
        if (!utf16_) {
            raw(s);
            return;
        }
        for (std::size_t i = 0; i < s.size();) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            unsigned cp;
            std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            cp = n == 1 ? c : c & (0xFF >> (n + 1));
            for (std::size_t k = 1; k < n; ++k) {
                cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            }
            i += n;
            auto unit = [&](unsigned u) {
                buf_ += static_cast<char>(u & 0xFF);
                buf_ += static_cast<char>(u >> 8);
            };
            if (cp >= 0x10000) {
                unit(0xD800 + ((cp - 0x10000) >> 10));
                unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                unit(cp);
            }
        }
        maybeFlush();
    }
    std::size_t size() {
        flush();
        return size_;
    }

private:
    void raw(const std::string& s) {
        buf_ += s;
        maybeFlush();
    }
    void maybeFlush() {
        if (buf_.size() > (1 << 20)) {
            flush();
        }
    }
    void flush() {
        std::fwrite(buf_.data(), 1, buf_.size(), f_);
        size_ += buf_.size();
        buf_.clear();
    }
    std::FILE* f_;
    bool utf16_;
    std::string eol_;
    std::string buf_;
    std::size_t size_ = 0;
};

}  // namespace

std::size_t writeInsertScript(const std::string& path, const InsertScript& script) {
    Writer w(path, script.utf16, script.crlf);
    const std::string db = script.database;
    w.line("USE [master]");
    w.line("GO");
    w.line("/****** Object:  Database [" + db + "]    Script Date: 2024/3/1 10:00:00 ******/");
    w.line("CREATE DATABASE [" + db + "]");
    w.line("GO");
    w.line("USE [" + db + "]");
    w.line("GO");
    w.line("/****** Object:  Table [dbo].[订单]    Script Date: 2024/3/1 10:00:00 ******/");
    w.line("SET ANSI_NULLS ON");
    w.line("GO");
    w.line("SET QUOTED_IDENTIFIER ON");
    w.line("GO");
    w.line("CREATE TABLE [dbo].[订单](");
    w.line("\t[id] [int] NOT NULL,");
    w.line("\t[客户] [nvarchar](50) NULL,");
    w.line("\t[amount] [decimal](18, 2) NULL");
    w.line(") ON [PRIMARY]");
    w.line("GO");
    for (long i = 1; i <= script.rows; ++i) {
        w.line("INSERT [dbo].[订单] ([id], [客户], [amount]) VALUES (" + std::to_string(i) +
               ", N'客户 " + std::to_string(i) + "', CAST(" + std::to_string(i % 1000) +
               ".50 AS Decimal(18, 2)))");
        if (i % script.goEvery == 0 || i == script.rows) {
            w.line("GO");
        }
    }
    return w.size();
}

std::size_t writeLargeBatchScript(const std::string& path, std::size_t totalBytes,
                                  std::size_t batchBytes) {
    Writer w(path, false, false);
    const std::string filler(99, 'x');
    const std::size_t batches = std::max<std::size_t>(1, totalBytes / batchBytes);
    for (std::size_t batch = 1; batch <= batches; ++batch) {
        w.line("/*");
        for (std::size_t inBatch = 0; inBatch + 100 < batchBytes; inBatch += 100) {
            w.line(filler);
        }
        w.line("*/");
        w.line("PRINT 'batch " + std::to_string(batch) + "'");
        w.line("GO");
    }
    return w.size();
}

}  // namespace quill::test
