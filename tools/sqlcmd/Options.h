#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quill::sqlcmd {

// sqlcmd's packet size. Larger packets were measured slower on loopback.
constexpr int kDefaultPacketSize = 4096;

struct ServerAddress {
    std::string host = "127.0.0.1";
    int port = 1433;  // 0 with an instance name: the server's browser finds it
    std::string instance;
};

// Parses -S: [tcp:]host[\instance][,port]; ".", "(local)" and "" are this machine.
std::optional<ServerAddress> parseServer(const std::string& text);

struct Options {
    std::string server;  // -S as written; empty: this machine's default instance
    std::string user;    // -U
    std::optional<std::string> password;
    bool trusted = false;  // -E
    std::string database;  // -d
    std::vector<std::string> inputs;
    std::string outputFile;
    bool stopOnError = false;       // -b
    int errorLevel = 0;             // -V: lowest severity that sets the exit code (0: not given)
    int messageLevel = 0;           // -m
    int errorsToStderr = -1;        // -r: -1 off, 0 severity >= 11, 1 every message
    bool quotedIdentifier = false;  // -I
    bool noSubstitution = false;    // -x
    std::vector<std::pair<std::string, std::string>> variables;  // -v
    int loginTimeout = 8;               // -l, seconds (0: wait indefinitely)
    int queryTimeout = 0;               // -t, seconds (0: none)
    bool echo = false;                  // -e
    int headers = 0;                    // -h: rows between headings; -1 none; 0 once per result
    std::string columnSeparator = " ";  // -s
    int width = 0;                      // -w (0: no wrapping)
    bool trimSpaces = false;            // -W
    std::string query;                  // -Q / -q
    bool exitAfterQuery = false;        // -Q
    int inputCodePage = 0;              // -f i:
    int outputCodePage = 0;             // -f o:
    int packetSize = 0;                 // -a (0: the client's default)
    int maxVarWidth = 256;              // -y
    int maxFixedWidth = 0;              // -Y
    bool encrypt = false;               // -N
    std::string workstation;            // -H
    long startBatch = 0;                // --start-batch: the first batch to send (0: the first)
    long startLine = 0;                 // --start-line: start at the batch holding this line
    bool help = false;                  // -?
};

struct ParseOutcome {
    bool ok = true;
    std::string message;  // why not (sqlcmd's wording), for stderr
};

using Getenv = std::function<const char*(const char*)>;

// Reads the switches, then the SQLCMD* environment variables for what the
// switches left open. A password given with -P is overwritten in argv so that
// the process list does not show it.
ParseOutcome parseOptions(int argc, char** argv, const Getenv& getenv, Options& options);

const char* usageText();

}  // namespace quill::sqlcmd
