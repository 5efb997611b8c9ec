#pragma once

// Runs build/bin/quill-sqlcmd as a child process, for end-to-end tests.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/StandinServer.h"
#include "support/TestServer.h"

namespace quill::test {

struct ClientRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::string status;  // the status channel's records, with captureStatus_
    long maxRssKb = 0;
    bool timedOut = false;
};

std::string readFile(const std::filesystem::path& p);
int countOf(const std::string& haystack, const std::string& needle);

class ClientTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a file (UTF-8 name, folders made) in the test's folder.
    std::string file(const std::string& name, const std::string& content);

    // Runs quill-sqlcmd with a clean SQLCMD* environment plus `env`;
    // `whileRunning` gets the pid once the client has started.
    ClientRun run(const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {}, int timeoutSeconds = 60,
                  const std::function<void(pid_t)>& whileRunning = {});

    static std::vector<std::string> login(const StandinServer& s);
    static std::vector<std::string> login(const TestServer& s);
    static std::vector<std::string> plus(std::vector<std::string> a,
                                         const std::vector<std::string>& b);
    // The batches the server received, without the session's set-up batch.
    static std::vector<std::string> batches(const StandinServer& s);

    std::filesystem::path dir_;
    // Gives the client a pipe as its status channel (descriptor 3), as the
    // console does, and collects what comes through it.
    bool captureStatus_ = false;
};

}  // namespace quill::test
