// Connect plus list of 2,000 databases against quill-standin on loopback,
// through the window's own connect flow. Prints the time per run and the
// round trips per listed row (requests the stand-in logged).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "db/DatabaseFlows.h"
#include "support/FakeForm.h"
#include "support/StandinServer.h"
#include "support/TestServices.h"

using namespace quill;

namespace {

constexpr int kDatabases = 2000;
constexpr int kRuns = 7;
constexpr double kBudgetMs = 1000;

QByteArray catalog() {
    QByteArray json = R"({"databases":[)";
    for (int i = 1; i <= kDatabases; ++i)
        json += (i > 1 ? "," : "") +
                QStringLiteral(R"({"name":"库%1"})").arg(i, 4, 10, QChar('0')).toUtf8();
    return json + "]}";
}

// Requests the client sent: the login exchange (prelogin, login) and one
// per batch or remote procedure call.
int roundTrips(const test::StandinServer& server) {
    return 2 * int(server.logEvents("login").size()) + int(server.logEvents("rpc").size()) +
           int(server.logEvents("batch").size());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("ODBCSYSINI"))
        qputenv("ODBCSYSINI", QUILL_ODBCSYSINI);

    test::StandinServer::Options options;
    options.catalogJson = catalog();
    test::StandinServer server(options);
    if (!server.isRunning()) {
        std::fprintf(stderr, "quill-standin did not start: %s\n", qPrintable(server.startError()));
        return 1;
    }

    std::vector<double> times;
    int trips = 0;
    int rows = 0;
    for (int run = 0; run < kRuns; ++run) {
        test::FakeForm form;
        ProgramState state;
        test::ScriptedMessageBoxes boxes;
        ODBCDB db;
        DatabaseFlows flows(form, state, boxes, db);
        form.setAuthIndex(1);
        form.setText(Control::编辑框1, server.serverText());
        form.setText(Control::编辑框2, server.login());
        form.setText(Control::编辑框3, server.password());

        const int before = roundTrips(server);
        QElapsedTimer timer;
        timer.start();
        flows.onConnectClicked();
        times.push_back(timer.nsecsElapsed() / 1e6);
        trips = roundTrips(server) - before;
        rows = form.listRowCount();
        if (form.status(0) != DatabaseFlows::kListLoaded || rows != kDatabases + 4) {
            std::fprintf(stderr, "run %d failed: \"%s\", %d rows\n", run,
                         qPrintable(form.status(0)), rows);
            return 1;
        }
        flows.onDisconnectClicked();
    }

    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("connect + list of %d databases (%d rows) against quill-standin, %d runs\n",
                kDatabases, rows, kRuns);
    std::printf("  time: median %.1f ms, best %.1f ms, worst %.1f ms\n", median, times.front(),
                times.back());
    std::printf("  round trips: %d per connect, %.2f per row\n", trips, double(trips) / rows);
    std::printf("  median / 1 s budget: %.2f (%s)\n", median / kBudgetMs,
                median < kBudgetMs ? "within" : "OVER");
    return median < kBudgetMs ? 0 : 2;
}
