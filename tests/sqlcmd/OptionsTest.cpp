#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Options.h"

using namespace quill::sqlcmd;

namespace {

// argv as a program gets it: writable strings.
struct Argv {
    explicit Argv(std::vector<std::string> args) : storage(std::move(args)) {
        storage.insert(storage.begin(), "quill-sqlcmd");
        for (auto& s : storage) {
            pointers.push_back(s.data());
        }
    }
    int argc() { return static_cast<int>(pointers.size()); }
    char** argv() { return pointers.data(); }
    std::vector<std::string> storage;
    std::vector<char*> pointers;
};

struct Parsed {
    ParseOutcome outcome;
    Options options;
    std::vector<std::string> argvAfter;
};

Parsed parse(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    Argv a(std::move(args));
    Parsed p;
    p.outcome = parseOptions(
        a.argc(), a.argv(),
        [&](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        },
        p.options);
    for (int i = 1; i < a.argc(); ++i) {
        p.argvAfter.emplace_back(a.argv()[i]);
    }
    return p;
}

TEST(Options, TheExecutionCommandLinesInEveryForm) {
    struct Case {
        std::vector<std::string> args;
        std::string user;
        std::string password;
        std::string input;
    } cases[] = {
        {{"-Usa", "-PQuill-Test-1", "-i", "a b/中文.sql"}, "sa", "Quill-Test-1", "a b/中文.sql"},
        {{"-U", "sa", "-P", "Quill-Test-1", "-i", "x.sql"}, "sa", "Quill-Test-1", "x.sql"},
        {{"-Usa", "-P-starts-with-dash", "-ix.sql"}, "sa", "-starts-with-dash", "x.sql"},
        {{"-U", "sa", "-P", "-dash", "-i", "x.sql"}, "sa", "-dash", "x.sql"},
    };
    for (auto& c : cases) {
        Parsed p = parse(c.args);
        ASSERT_TRUE(p.outcome.ok) << p.outcome.message;
        EXPECT_EQ(p.options.user, c.user);
        EXPECT_EQ(p.options.password.value_or("<none>"), c.password);
        ASSERT_EQ(p.options.inputs.size(), 1u);
        EXPECT_EQ(p.options.inputs[0], c.input);
        for (const auto& arg : p.argvAfter) {
            EXPECT_EQ(arg.find(c.password), std::string::npos) << "password left in argv: " << arg;
        }
    }
    Parsed integrated = parse({"-i", "x.sql"});
    ASSERT_TRUE(integrated.outcome.ok);
    EXPECT_TRUE(integrated.options.user.empty());
    EXPECT_FALSE(integrated.options.password);
}

TEST(Options, SwitchBeatsEnvironment) {
    std::map<std::string, std::string> env = {
        {"SQLCMDSERVER", "envhost,1500"}, {"SQLCMDUSER", "envuser"},
        {"SQLCMDPASSWORD", "envpw"},      {"SQLCMDDBNAME", "envdb"},
        {"SQLCMDLOGINTIMEOUT", "30"},     {"SQLCMDSTATTIMEOUT", "40"}};
    Parsed fromEnv = parse({"-i", "x.sql"}, env);
    ASSERT_TRUE(fromEnv.outcome.ok);
    EXPECT_EQ(fromEnv.options.server, "envhost,1500");
    EXPECT_EQ(fromEnv.options.user, "envuser");
    EXPECT_EQ(fromEnv.options.password.value_or(""), "envpw");
    EXPECT_EQ(fromEnv.options.database, "envdb");
    EXPECT_EQ(fromEnv.options.loginTimeout, 30);
    EXPECT_EQ(fromEnv.options.queryTimeout, 40);

    Parsed switches =
        parse({"-S", "h", "-U", "u", "-P", "p", "-d", "db", "-l", "5", "-t", "6"}, env);
    ASSERT_TRUE(switches.outcome.ok);
    EXPECT_EQ(switches.options.server, "h");
    EXPECT_EQ(switches.options.user, "u");
    EXPECT_EQ(switches.options.password.value_or(""), "p");
    EXPECT_EQ(switches.options.database, "db");
    EXPECT_EQ(switches.options.loginTimeout, 5);
    EXPECT_EQ(switches.options.queryTimeout, 6);

    // The console passes the password in the environment only.
    Parsed console = parse({"-Usa", "-i", "x.sql"}, {{"SQLCMDPASSWORD", "secret"}});
    EXPECT_EQ(console.options.password.value_or(""), "secret");
}

TEST(Options, SwitchValues) {
    Parsed p = parse({"-b",
                      "-V",
                      "16",
                      "-m-1",
                      "-r1",
                      "-I",
                      "-x",
                      "-e",
                      "-W",
                      "-h",
                      "-1",
                      "-s",
                      "|",
                      "-w",
                      "120",
                      "-f",
                      "i:936,o:65001",
                      "-v",
                      "a=1",
                      "b=two words",
                      "-v",
                      "c=",
                      "-a",
                      "8192",
                      "-y",
                      "0",
                      "-o",
                      "out.txt",
                      "-i",
                      "a.sql,b.sql",
                      "c.sql"});
    ASSERT_TRUE(p.outcome.ok) << p.outcome.message;
    const Options& o = p.options;
    EXPECT_TRUE(o.stopOnError);
    EXPECT_EQ(o.errorLevel, 16);
    EXPECT_EQ(o.messageLevel, -1);
    EXPECT_EQ(o.errorsToStderr, 1);
    EXPECT_TRUE(o.quotedIdentifier && o.noSubstitution && o.echo && o.trimSpaces);
    EXPECT_EQ(o.headers, -1);
    EXPECT_EQ(o.columnSeparator, "|");
    EXPECT_EQ(o.width, 120);
    EXPECT_EQ(o.inputCodePage, 936);
    EXPECT_EQ(o.outputCodePage, 65001);
    ASSERT_EQ(o.variables.size(), 3u);
    EXPECT_EQ(o.variables[1], (std::pair<std::string, std::string>{"b", "two words"}));
    EXPECT_EQ(o.variables[2], (std::pair<std::string, std::string>{"c", ""}));
    EXPECT_EQ(o.packetSize, 8192);
    EXPECT_EQ(o.maxVarWidth, 0);
    EXPECT_EQ(o.outputFile, "out.txt");
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.sql", "b.sql", "c.sql"}));

    EXPECT_EQ(parse({"-r"}).options.errorsToStderr, 0);
    EXPECT_EQ(parse({"-r", "1"}).options.errorsToStderr, 1);
    EXPECT_EQ(parse({"-f", "1252"}).options.inputCodePage, 1252);
    EXPECT_EQ(parse({"-Q", "select 1"}).options.exitAfterQuery, true);
    EXPECT_EQ(parse({"--start-batch", "7", "-i", "x.sql"}).options.startBatch, 7);
    EXPECT_EQ(parse({"-i", "x.sql", "--start-line", "120"}).options.startLine, 120);
}

TEST(Options, AnInputNameWithACommaIsTakenWholeWhenItExists) {
    char dir[] = "/tmp/quill-options-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/a,b.sql";
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    Parsed p = parse({"-i", path});
    EXPECT_EQ(p.options.inputs, std::vector<std::string>{path});
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(Options, RefusesBadCommandLinesWithSqlcmdsMessages) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"-Z"}, "Sqlcmd: '-Z': This option is not supported by quill-sqlcmd."},
        {{"-J"}, "Sqlcmd: '-J': Unknown Option. Enter '-?' for help."},
        {{"stray"}, "Sqlcmd: 'stray': Unexpected argument. Enter '-?' for help."},
        {{"-d"}, "Sqlcmd: '-d': Missing argument. Enter '-?' for help."},
        {{"-U", "-i", "x"}, "Sqlcmd: '-U': Missing argument. Enter '-?' for help."},
        {{"-bx"}, "Sqlcmd: '-b': Unexpected argument. Enter '-?' for help."},
        {{"-l", "99999"}, "Sqlcmd: '-l 99999': value must be from 0 to 65534."},
        {{"-h", "0"}, "Sqlcmd: '-h 0': value must be -1 or from 1 to 2147483647."},
        {{"-E", "-U", "sa"}, "Sqlcmd: The -E and the -U/-P options are mutually exclusive."},
        {{"-Q", "x", "-i", "y"}, "Sqlcmd: The -i and the -Q/-q options are mutually exclusive."},
        {{"-v", "novalue"}, "Sqlcmd: '-v novalue': Invalid argument. Enter '-?' for help."},
        {{"--start-batch"}, "Sqlcmd: '--start-batch': Missing argument. Enter '-?' for help."},
        {{"--start-batch", "0", "-i", "x"},
         "Sqlcmd: '--start-batch 0': value must be from 1 to 2147483647."},
        {{"--start-line", "x", "-i", "y"},
         "Sqlcmd: '--start-line x': value must be from 1 to 2147483647."},
        {{"--bogus"}, "Sqlcmd: '--bogus': Unknown Option. Enter '-?' for help."},
        {{"--start-batch", "2", "--start-line", "3", "-i", "x"},
         "Sqlcmd: The --start-batch and the --start-line options are mutually exclusive."},
        {{"--start-batch", "2", "-Q", "select 1"},
         "Sqlcmd: --start-batch needs an input file (-i); it cannot start -Q or -q text or "
         "standard input part way."},
        {{"--start-line", "2"},
         "Sqlcmd: --start-line needs an input file (-i); it cannot start -Q or -q text or "
         "standard input part way."},
        {{"--start-line", "2", "-i", "a.sql", "b.sql"},
         "Sqlcmd: --start-line needs a single input file; with several, use --start-batch."},
        {{"-S", "h,notaport"},
         "Sqlcmd: '-S h,notaport': not a server name of the form [tcp:]host[\\instance][,port]."},
    };
    for (auto& c : cases) {
        Parsed p = parse(c.args);
        EXPECT_FALSE(p.outcome.ok) << c.message;
        EXPECT_EQ(p.outcome.message, c.message);
    }
    // A bad password is never echoed.
    Parsed p = parse({"-P", "hunter2", "-Z"});
    EXPECT_EQ(p.outcome.message.find("hunter2"), std::string::npos);
}

TEST(Options, ServerNames) {
    struct Case {
        const char* text;
        const char* host;
        int port;
        const char* instance;
    } cases[] = {
        {"", "127.0.0.1", 1433, ""},
        {".", "127.0.0.1", 1433, ""},
        {"(local)", "127.0.0.1", 1433, ""},
        {"tcp:db.example,14330", "db.example", 14330, ""},
        {"127.0.0.1,5000", "127.0.0.1", 5000, ""},
        {"host\\SQLEXPRESS", "host", 0, "SQLEXPRESS"},
        {".\\SQLEXPRESS,1500", "127.0.0.1", 1500, "SQLEXPRESS"},
    };
    for (const auto& c : cases) {
        auto a = parseServer(c.text);
        ASSERT_TRUE(a) << c.text;
        EXPECT_EQ(a->host, c.host) << c.text;
        EXPECT_EQ(a->port, c.port) << c.text;
        EXPECT_EQ(a->instance, c.instance) << c.text;
    }
    EXPECT_FALSE(parseServer("h,0"));
    EXPECT_FALSE(parseServer("h\\"));
}

}  // namespace
