// Wall time of the "表排序" report for a database of 10,000 tables against
// quill-standin on loopback and 50 ms away: the connection, the table
// count, the table list, the file written. Three runs at each latency;
// every run is printed with the requests it sent.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "stats/StatsFlows.h"
#include "support/FakeForm.h"
#include "support/StandinServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

namespace {

constexpr int kTables = 10000;
constexpr int kRuns = 3;

QByteArray catalog() {
    QByteArray tables;
    for (int i = 0; i < kTables; ++i) {
        if (i)
            tables += ',';
        // Every tenth name is Chinese; counts spread and repeat.
        const QString name =
            i % 10 ? QString("Table%1").arg(i, 5, 10, QChar('0')) : QString("订单明细%1").arg(i);
        tables += QString(R"({"name":"%1","rows":%2,"indexRows":[%2,%3]})")
                      .arg(name)
                      .arg((i * 7919) % 1000000)
                      .arg(i % 1000)
                      .toUtf8();
    }
    return R"({"databases":[{"name":"Big","tables":[)" + tables + "]}]}";
}

}  // namespace

// Requests the client sent: the login's two and one per batch or RPC.
int requests(const quill::test::StandinServer& server) {
    return 2 * int(server.logEvents("login").size()) + int(server.logEvents("rpc").size()) +
           int(server.logEvents("batch").size());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    using namespace quill;

    for (int latency : {0, 50}) {
        test::StandinServer::Options options;
        options.catalogJson = catalog();
        options.latencyMs = latency;
        test::StandinServer server(options);
        if (!server.isRunning()) {
            std::fprintf(stderr, "quill-standin did not start: %s\n",
                         qPrintable(server.startError()));
            return 1;
        }
        test::FakeForm form;
        form.setAuthIndex(1);
        form.setText(Control::编辑框1, server.serverText());
        form.setText(Control::编辑框2, server.login());
        form.setText(Control::编辑框3, server.password());
        ProgramState state;
        state.setSelectedDatabaseName("Big");
        test::ScriptedMessageBoxes boxes;
        test::RecordingOpener opener;
        QTemporaryDir folder;
        StatsFlows flows(form, state, boxes, opener, std::make_shared<ODBCDB>(),
                         {folder.path(), {}});

        std::vector<double> seconds;
        for (int run = 1; run <= kRuns; ++run) {
            const int before = requests(server);
            QElapsedTimer timer;
            timer.start();
            flows.onTableReportClicked();
            test::waitUntil([&] { return flows.idle(); }, 600000);
            seconds.push_back(timer.nsecsElapsed() / 1e9);
            if (!boxes.shown.empty() || opener.opened.size() != run) {
                std::fprintf(
                    stderr, "the report failed: %s\n",
                    boxes.shown.empty() ? "not opened" : qPrintable(boxes.shown.back().text));
                return 1;
            }
            std::printf("latency %d ms, run %d: %.3f s, %d round trips\n", latency, run,
                        seconds.back(), requests(server) - before);
        }
        QFile report(opener.opened.last());
        std::printf("report of %d tables (%lld bytes) at %d ms: best %.3f s of %d runs\n", kTables,
                    static_cast<long long>(report.size()), latency,
                    *std::min_element(seconds.begin(), seconds.end()), kRuns);
    }
    return 0;
}
