#include "Options.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <string_view>

namespace quill::sqlcmd {

namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::optional<long> toInt(std::string_view s) {
    if (s.empty() || s.size() > 11) {
        return std::nullopt;
    }
    bool negative = s[0] == '-';
    std::size_t i = negative ? 1 : 0;
    if (i == s.size()) {
        return std::nullopt;
    }
    long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return std::nullopt;
        }
        v = v * 10 + (s[i] - '0');
    }
    return negative ? -v : v;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

ParseOutcome failure(std::string message) {
    return ParseOutcome{false, "Sqlcmd: " + std::move(message)};
}

ParseOutcome badSwitch(char sw, const char* what) {
    return failure(std::string("'-") + sw + "': " + what + ". Enter '-?' for help.");
}

// -f 936 | i:936[,o:65001] | o:65001
bool parseCodePages(std::string_view text, Options& o) {
    auto one = [](std::string_view s) -> int {
        auto v = toInt(s);
        return v && *v > 0 && *v <= 65535 ? static_cast<int>(*v) : 0;
    };
    if (auto cp = one(text)) {
        o.inputCodePage = o.outputCodePage = cp;
        return true;
    }
    while (!text.empty()) {
        std::size_t comma = text.find(',');
        std::string_view part = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (part.size() < 3 || part[1] != ':') {
            return false;
        }
        int cp = one(part.substr(2));
        if (!cp) {
            return false;
        }
        char which = static_cast<char>(std::tolower(static_cast<unsigned char>(part[0])));
        if (which == 'i') {
            o.inputCodePage = cp;
        } else if (which == 'o') {
            o.outputCodePage = cp;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<ServerAddress> parseServer(const std::string& text) {
    ServerAddress a;
    std::string_view s = text;
    if (s.size() >= 4 && iequals(s.substr(0, 4), "tcp:")) {
        s.remove_prefix(4);
    }
    std::size_t comma = s.find(',');
    if (comma != std::string_view::npos) {
        auto port = toInt(s.substr(comma + 1));
        if (!port || *port < 1 || *port > 65535) {
            return std::nullopt;
        }
        a.port = static_cast<int>(*port);
        s = s.substr(0, comma);
    }
    std::size_t slash = s.find('\\');
    if (slash != std::string_view::npos) {
        a.instance = std::string(s.substr(slash + 1));
        s = s.substr(0, slash);
        if (a.instance.empty()) {
            return std::nullopt;
        }
        if (comma == std::string_view::npos) {
            a.port = 0;
        }
    }
    if (!(s.empty() || s == "." || iequals(s, "(local)"))) {
        a.host = std::string(s);
    }
    return a;
}

ParseOutcome parseOptions(int argc, char** argv, const Getenv& getenv, Options& o) {
    bool serverGiven = false, userGiven = false, databaseGiven = false;
    bool loginTimeoutGiven = false, queryTimeoutGiven = false, queryGiven = false;

    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        if (arg[0] == '-' && arg[1] == '-') {
            // --start-batch N, --start-line L: where a resumed run starts.
            const std::string_view name(arg);
            long* target = name == "--start-batch"  ? &o.startBatch
                           : name == "--start-line" ? &o.startLine
                                                    : nullptr;
            if (!target) {
                return failure("'" + std::string(name) + "': Unknown Option. Enter '-?' for help.");
            }
            if (i + 1 >= argc) {
                return failure("'" + std::string(name) +
                               "': Missing argument. Enter '-?' for help.");
            }
            const char* v = argv[++i];
            auto n = toInt(v);
            if (!n || *n < 1 || *n > 2147483647) {
                return failure("'" + std::string(name) + " " + v +
                               "': value must be from 1 to 2147483647.");
            }
            *target = *n;
            continue;
        }
        if (arg[0] != '-' || arg[1] == '\0') {
            return failure(std::string("'") + arg + "': Unexpected argument. Enter '-?' for help.");
        }
        const char sw = arg[1];
        char* glued = arg + 2;
        const bool hasGlued = *glued != '\0';
        // The switch's value: glued to it, or the next argument unless that is
        // itself a switch ("-1" counts as a value).
        auto value = [&](bool anyNext = false) -> char* {
            if (hasGlued) {
                return glued;
            }
            if (i + 1 < argc) {
                char* next = argv[i + 1];
                bool isSwitch =
                    next[0] == '-' && next[1] != '\0' && !(next[1] >= '0' && next[1] <= '9');
                if (anyNext || !isSwitch) {
                    ++i;
                    return next;
                }
            }
            return nullptr;
        };
        auto number = [&](long lo, long hi, int& out) -> ParseOutcome {
            char* v = value();
            if (!v) {
                return badSwitch(sw, "Missing argument");
            }
            auto n = toInt(v);
            if (!n || *n < lo || *n > hi) {
                return failure(std::string("'-") + sw + " " + v + "': value must be from " +
                               std::to_string(lo) + " to " + std::to_string(hi) + ".");
            }
            out = static_cast<int>(*n);
            return {};
        };
        // Switches without a value take nothing glued to them.
        auto flag = [&](bool& out) -> ParseOutcome {
            if (hasGlued) {
                return badSwitch(sw, "Unexpected argument");
            }
            out = true;
            return {};
        };

        ParseOutcome r;
        switch (sw) {
            case 'S':
            case 'U':
            case 'd':
            case 'o':
            case 'H':
            case 's':
            case 'Q':
            case 'q': {
                char* v = value(sw == 'Q' || sw == 'q');
                if (!v) {
                    return badSwitch(sw, "Missing argument");
                }
                switch (sw) {
                    case 'S':
                        o.server = v, serverGiven = true;
                        break;
                    case 'U':
                        o.user = v, userGiven = true;
                        break;
                    case 'd':
                        o.database = v, databaseGiven = true;
                        break;
                    case 'o':
                        o.outputFile = v;
                        break;
                    case 'H':
                        o.workstation = v;
                        break;
                    case 's':
                        if (std::strlen(v) != 1) {
                            return failure("'-s " + std::string(v) +
                                           "': the column separator must be one character.");
                        }
                        o.columnSeparator = v;
                        break;
                    default:
                        if (queryGiven) {
                            return failure("The -Q and the -q options are mutually exclusive.");
                        }
                        o.query = v, o.exitAfterQuery = sw == 'Q', queryGiven = true;
                }
                break;
            }
            case 'P': {
                char* v = value(true);
                if (!v) {
                    return badSwitch(sw, "Missing argument");
                }
                o.password = std::string(v);
                std::memset(v, '*', std::strlen(v));
                break;
            }
            case 'i': {
                char* v = value();
                if (!v) {
                    return badSwitch(sw, "Missing argument");
                }
                // Several files: "-i a,b", "-i a b", or -i repeated. A name that
                // exists as it stands is taken whole, commas and all.
                for (;;) {
                    std::string list = v;
                    if (exists(list)) {
                        o.inputs.push_back(list);
                    } else {
                        std::size_t start = 0;
                        while (start <= list.size()) {
                            std::size_t comma = list.find(',', start);
                            if (comma == std::string::npos) {
                                comma = list.size();
                            }
                            if (comma > start) {
                                o.inputs.push_back(list.substr(start, comma - start));
                            }
                            start = comma + 1;
                        }
                    }
                    if (i + 1 < argc && argv[i + 1][0] != '-') {
                        v = argv[++i];
                    } else {
                        break;
                    }
                }
                break;
            }
            case 'v': {
                char* v = value();
                if (!v) {
                    return badSwitch(sw, "Missing argument");
                }
                for (;;) {
                    const char* eq = std::strchr(v, '=');
                    std::string name(v, eq ? static_cast<std::size_t>(eq - v) : std::strlen(v));
                    if (!eq || name.empty()) {
                        return failure("'-v " + std::string(v) +
                                       "': Invalid argument. Enter '-?' for help.");
                    }
                    o.variables.emplace_back(name, eq + 1);
                    if (i + 1 < argc && argv[i + 1][0] != '-' && std::strchr(argv[i + 1], '=')) {
                        v = argv[++i];
                    } else {
                        break;
                    }
                }
                break;
            }
            case 'f': {
                char* v = value();
                if (!v) {
                    return badSwitch(sw, "Missing argument");
                }
                if (!parseCodePages(v, o)) {
                    return failure("'-f " + std::string(v) +
                                   "': Invalid argument. Enter '-?' for help.");
                }
                break;
            }
            case 'r': {
                if (hasGlued) {
                    if (std::strcmp(glued, "0") != 0 && std::strcmp(glued, "1") != 0) {
                        return badSwitch(sw, "Unexpected argument");
                    }
                    o.errorsToStderr = glued[0] - '0';
                } else if (i + 1 < argc && (std::strcmp(argv[i + 1], "0") == 0 ||
                                            std::strcmp(argv[i + 1], "1") == 0)) {
                    o.errorsToStderr = argv[++i][0] - '0';
                } else {
                    o.errorsToStderr = 0;
                }
                break;
            }
            case 'V':
                r = number(1, 25, o.errorLevel);
                break;
            case 'm':
                r = number(-1, 25, o.messageLevel);
                break;
            case 'l':
                r = number(0, 65534, o.loginTimeout), loginTimeoutGiven = true;
                break;
            case 't':
                r = number(0, 65534, o.queryTimeout), queryTimeoutGiven = true;
                break;
            case 'h': {
                r = number(-1, 2147483647, o.headers);
                if (r.ok && o.headers == 0) {
                    return failure("'-h 0': value must be -1 or from 1 to 2147483647.");
                }
                break;
            }
            case 'w':
                r = number(9, 65535, o.width);
                break;
            case 'a':
                r = number(512, 32767, o.packetSize);
                break;
            case 'y':
                r = number(0, 8000, o.maxVarWidth);
                break;
            case 'Y':
                r = number(0, 8000, o.maxFixedWidth);
                break;
            case 'b':
                r = flag(o.stopOnError);
                break;
            case 'I':
                r = flag(o.quotedIdentifier);
                break;
            case 'x':
                r = flag(o.noSubstitution);
                break;
            case 'e':
                r = flag(o.echo);
                break;
            case 'W':
                r = flag(o.trimSpaces);
                break;
            case 'E':
                r = flag(o.trusted);
                break;
            case 'N':
                r = flag(o.encrypt);
                break;
            case '?':
                r = flag(o.help);
                break;
            case 'C':  // the certificate is not checked anyway
            case 'X':  // commands and environment are never run or read
            case 'j':  // error messages are printed as they come
                break;
            case 'c':
            case 'A':
            case 'D':
            case 'G':
            case 'g':
            case 'K':
            case 'k':
            case 'L':
            case 'M':
            case 'p':
            case 'R':
            case 'u':
            case 'z':
            case 'Z':
                return failure(std::string("'-") + sw +
                               "': This option is not supported by quill-sqlcmd.");
            default:
                return badSwitch(sw, "Unknown Option");
        }
        if (!r.ok) {
            return r;
        }
    }

    if (o.help) {
        return {};
    }
    if (o.trusted && (userGiven || o.password)) {
        return failure("The -E and the -U/-P options are mutually exclusive.");
    }
    if (queryGiven && !o.inputs.empty()) {
        return failure("The -i and the -Q/-q options are mutually exclusive.");
    }
    if (o.startBatch > 0 && o.startLine > 0) {
        return failure("The --start-batch and the --start-line options are mutually exclusive.");
    }
    if ((o.startBatch > 0 || o.startLine > 0) && o.inputs.empty()) {
        return failure(std::string(o.startBatch > 0 ? "--start-batch" : "--start-line") +
                       " needs an input file (-i); it cannot start -Q or -q text or "
                       "standard input part way.");
    }
    if (o.startLine > 0 && o.inputs.size() > 1) {
        return failure("--start-line needs a single input file; with several, use --start-batch.");
    }

    auto env = [&](const char* name) -> const char* {
        const char* v = getenv(name);
        return v && *v ? v : nullptr;
    };
    if (!serverGiven) {
        if (const char* v = env("SQLCMDSERVER")) {
            o.server = v;
        }
    }
    if (!userGiven && !o.trusted) {
        if (const char* v = env("SQLCMDUSER")) {
            o.user = v;
        }
    }
    if (!o.password && !o.trusted) {
        if (const char* v = getenv("SQLCMDPASSWORD")) {
            o.password = std::string(v);
        }
    }
    if (!databaseGiven) {
        if (const char* v = env("SQLCMDDBNAME")) {
            o.database = v;
        }
    }
    auto envNumber = [&](const char* name, bool given, int lo, int hi, int& out) -> ParseOutcome {
        const char* v = env(name);
        if (given || !v) {
            return {};
        }
        auto n = toInt(v);
        if (!n || *n < lo || *n > hi) {
            return failure(std::string(name) + " must be a number from " + std::to_string(lo) +
                           " to " + std::to_string(hi) + ".");
        }
        out = static_cast<int>(*n);
        return {};
    };
    if (auto r = envNumber("SQLCMDLOGINTIMEOUT", loginTimeoutGiven, 0, 65534, o.loginTimeout);
        !r.ok) {
        return r;
    }
    if (auto r = envNumber("SQLCMDSTATTIMEOUT", queryTimeoutGiven, 0, 65534, o.queryTimeout);
        !r.ok) {
        return r;
    }
    if (!parseServer(o.server)) {
        return failure("'-S " + o.server +
                       "': not a server name of the form [tcp:]host[\\instance][,port].");
    }
    return {};
}

const char* usageText() {
    return R"(usage: quill-sqlcmd [-U login id] [-P password] [-S server[,port]] [-E trusted connection]
  [-d use database name] [-l login timeout] [-t query timeout]
  [-h headers] [-s colseparator] [-w screen width] [-W remove trailing spaces]
  [-a packetsize] [-e echo input] [-I enable quoted identifiers]
  [-y variable length type display width] [-Y fixed length type display width]
  [-i inputfile[,inputfile...]] [-o outputfile] [-f <codepage> | i:<codepage>[,o:<codepage>]]
  [-r[0|1] messages to stderr] [-b on error batch abort] [-V severitylevel]
  [-m errorlevel] [-x disable variable substitution] [-v var = "value"...]
  [-q "cmdline query"] [-Q "cmdline query" and exit] [-N encrypt connection]
  [-H hostname] [-? show syntax summary]
  [--start-batch number | --start-line line: resume a script at that batch]

The password is best given in the environment variable SQLCMDPASSWORD.
Input without a byte-order mark must be UTF-8 unless -f names its code page.
)";
}

}  // namespace quill::sqlcmd
