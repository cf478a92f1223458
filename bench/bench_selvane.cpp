// SPDX-License-Identifier: MIT
// In-process figures: the settings a start-up reads and a shutdown writes, the command
// line's handling, the binding, a press (the operator's, a script's, an SCPI client's), and
// the settings tool over a big store.

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "gpib/DynamicLibrary.h"
#include "gpib/GpibApi.h"
#include "gpib/GpibBinding.h"
#include "remote/RemoteServer.h"
#include "remote/ScpiInstrument.h"
#include "settings/SettingsStore.h"
#include "settings/SqliteRegistry.h"
#include "support/AdapterEmulator.h"
#include "tools/SettingsTool.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string kContext = "SELVANE - Bench";

/** The 42 values of a context with three units, in the order start-up reads them. */
struct Value
{
    std::string name;
    bool text;
    std::string defaultText;
};

std::vector<Value> contextValues()
{
    std::vector<Value> values {{"Units", false, {}}};
    for (int unit = 1; unit <= 3; ++unit) {
        const std::string n = std::to_string(unit);
        values.push_back({n + ".Board", false, {}});
        values.push_back({n + ".PAd", false, {}});
        values.push_back({n + ".SAd", false, {}});
        values.push_back({n + ".A.title", true, "Device 1"});
        values.push_back({n + ".B.title", true, "Device 2"});
        for (const char *position : {"A1", "A2", "A3", "A4", "B1", "B2", "B3", "B4"})
            values.push_back({n + "." + position + ".label", true, position});
    }
    values.push_back({"X", false, {}});
    values.push_back({"Y", false, {}});
    return values;
}

class RegistryFile
{
public:
    RegistryFile()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "selvane-bench-XXXXXX").string();
        m_folder = ::mkdtemp(pattern.data()) ? pattern : std::string();
        m_file = m_folder + "/registry.sqlite3";
    }
    ~RegistryFile()
    {
        std::error_code error;
        std::filesystem::remove_all(m_folder, error);
    }
    RegistryFile(const RegistryFile &) = delete;
    RegistryFile &operator=(const RegistryFile &) = delete;
    const std::string &file() const { return m_file; }

private:
    std::string m_folder;
    std::string m_file;
};

void writeAll(const SettingsStore &store, const std::vector<Value> &values, int round)
{
    for (const Value &value : values) {
        if (value.text)
            store.WriteValue(kContext, value.name, value.defaultText + std::to_string(round % 7));
        else
            store.WriteValue(kContext, value.name, double(round % 100));
    }
}

void BM_StartupReads42(benchmark::State &state)
{
    RegistryFile file;
    SqliteRegistry registry(file.file());
    const SettingsStore store(registry);
    const std::vector<Value> values = contextValues();
    writeAll(store, values, 1);
    for (auto _ : state) {
        for (const Value &value : values) {
            if (value.text)
                benchmark::DoNotOptimize(store.ReadValue(kContext, value.name, value.defaultText));
            else
                benchmark::DoNotOptimize(store.ReadValue(kContext, value.name, std::int32_t(0)));
        }
    }
}
BENCHMARK(BM_StartupReads42)->Unit(benchmark::kMillisecond);

void BM_ShutdownWrites42(benchmark::State &state)
{
    RegistryFile file;
    SqliteRegistry registry(file.file());
    const SettingsStore store(registry);
    const std::vector<Value> values = contextValues();
    int round = 0;
    for (auto _ : state)
        writeAll(store, values, ++round);
}
BENCHMARK(BM_ShutdownWrites42)->Unit(benchmark::kMillisecond);

void BM_CommandLine(benchmark::State &state)
{
    const std::string command = "  Bench 2 -clean ";
    for (auto _ : state)
        benchmark::DoNotOptimize(CommandLine::parse(command));
}
BENCHMARK(BM_CommandLine);

// The binding's own cost per call: a wrapper against the same driver function called
// directly (gpib-sim as the driver, without trace or delay).
DynamicLibrary &simulatedDriver()
{
    ::unsetenv("SELVANE_SIM_TRACE");
    ::setenv("SELVANE_SIM_DELAY_MS", "0", 1);
    static DynamicLibrary library(SELVANE_SIM_LIBRARY);
    return library;
}

void BM_DriverCallDirect(benchmark::State &state)
{
    auto ibloc = reinterpret_cast<gpib::IbLoc>(simulatedDriver().entryPoint("ibloc"));
    for (auto _ : state)
        benchmark::DoNotOptimize(ibloc(0));
}
BENCHMARK(BM_DriverCallDirect);

void BM_DriverCallThroughBinding(benchmark::State &state)
{
    GpibBinding gpib(simulatedDriver());
    for (auto _ : state)
        benchmark::DoNotOptimize(gpib.GpibGoLocal(0));
}
BENCHMARK(BM_DriverCallThroughBinding);

/** The same call with SELVANE_GPIB_TRACE on: one JSON line written and flushed per call. */
void BM_DriverCallTraced(benchmark::State &state)
{
    RegistryFile folder; // a scratch folder for the trace
    const std::string trace = folder.file() + ".trace.jsonl";
    ::setenv("SELVANE_GPIB_TRACE", trace.c_str(), 1);
    GpibBinding gpib(simulatedDriver());
    ::unsetenv("SELVANE_GPIB_TRACE");
    for (auto _ : state)
        benchmark::DoNotOptimize(gpib.GpibGoLocal(0));
}
BENCHMARK(BM_DriverCallTraced);

/** A store of `keys` instances of `values` values each, written in one transaction. */
void seedStore(SqliteRegistry &registry, int keys, int values)
{
    registry.beginTransaction();
    for (int key = 0; key < keys; ++key) {
        Registry::Key handle = 0;
        registry.createKey(Registry::kLocalMachine,
                           std::string(SettingsStore::kRootKey) + "\\SELVANE - Bench"
                               + std::to_string(key),
                           &handle);
        for (int value = 0; value < values; ++value) {
            const std::uint8_t number[4] = {std::uint8_t(value), 0, 0, 0};
            registry.setValue(handle, value == 0 ? "Units" : std::to_string(value) + ".label",
                              Registry::kDword, number, 4);
        }
        registry.closeKey(handle);
    }
    registry.endTransaction(true);
}

/** The settings tool over a big store of `keys` instances of `values` values each: each
    enumeration must stay linear. */
void BM_SettingsTool(benchmark::State &state, int keys, int values,
                     const std::vector<std::string> &args)
{
    RegistryFile file;
    SqliteRegistry registry(file.file());
    seedStore(registry, keys, values);
    for (auto _ : state) {
        std::ostringstream out, err;
        benchmark::DoNotOptimize(SettingsTool::run(args, registry, out, err));
    }
}
BENCHMARK_CAPTURE(BM_SettingsTool, Export20000Values, 1, 20000,
                  std::vector<std::string> {"export", "Bench0"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SettingsTool, List12000Instances, 12000, 1, std::vector<std::string> {"list"})
    ->Unit(benchmark::kMillisecond);

/** The adapters' library, over the emulator of tests/. */
DynamicLibrary &adapterDriver()
{
    static DynamicLibrary library(SELVANE_PROLOGIX_LIBRARY);
    return library;
}

/** A shown main window with one unit on the simulated bus, or on another `driver`, over a
    registry of its own. */
class PressBench
{
public:
    explicit PressBench(DynamicLibrary &driver = simulatedDriver())
        : m_gpib(driver)
    {
        ::setenv("SELVANE_SIM_DEVICES", "0:7:0", 1);
        SettingsStore(m_registry).WriteValue("SELVANE - Bench", "Units", 1.0);
        m_window.Load("Bench");
        m_window.show();
        QApplication::processEvents();
    }
    QPushButton *button(int position) { return m_window.panel(0).Position[position]; }
    MainWindow &window() { return m_window; }
    const std::string &file() const { return m_file.file(); }

private:
    RegistryFile m_file;
    SqliteRegistry m_registry {m_file.file()};
    SettingsStore m_store {m_registry};
    GpibBinding m_gpib;
    MainWindow m_window {m_store, m_gpib};
};

/** Presses A1, A2, A1, ...: the highlight moves every time. */
void pressInTurn(benchmark::State &state, PressBench &bench)
{
    int position = 0;
    for (auto _ : state) {
        bench.button(position)->click();
        position ^= 1;
    }
}

// A press from its click to the command's write (and the highlight), without the repaint.
void BM_PressToWrite(benchmark::State &state)
{
    PressBench bench;
    pressInTurn(state, bench);
}
BENCHMARK(BM_PressToWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PressToWrite)->Iterations(1000)->Unit(benchmark::kMicrosecond); // for callgrind

// The same press through an adapter on a pseudo-terminal, emulated: an AR488, which is asked
// for the listener before each write, or a Prologix, which is only written to.
void BM_PressThroughAdapter(benchmark::State &state, AdapterEmulator::Model model)
{
    AdapterEmulator adapter(model, {"7"});
    ::setenv("SELVANE_PROLOGIX", ("0=" + adapter.where()).c_str(), 1);
    PressBench bench(adapterDriver());
    pressInTurn(state, bench);
}
BENCHMARK_CAPTURE(BM_PressThroughAdapter, ar488, AdapterEmulator::Model::Ar488)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PressThroughAdapter, prologix, AdapterEmulator::Model::Prologix)
    ->Unit(benchmark::kMicrosecond);

// The whole press as the operator sees it: the click, the write, and the repaint.
void BM_PressWithRepaint(benchmark::State &state)
{
    PressBench bench;
    int position = 0;
    for (auto _ : state) {
        bench.button(position)->click();
        QApplication::processEvents(); // the repaint of the changed buttons and caption
        position ^= 1;
    }
}
BENCHMARK(BM_PressWithRepaint)->Unit(benchmark::kMicrosecond);

/** The window as SCPI sees it, counting the presses asked of it. */
class CountedPanel : public PanelControl
{
public:
    explicit CountedPanel(PanelControl &panel)
        : m_panel(panel)
    { }
    Holder holder() const override { return m_panel.holder(); }
    std::vector<ShownUnit> shownUnits() const override { return m_panel.shownUnits(); }
    void press(int index, int position, const Heard &heard) override
    {
        ++presses;
        m_panel.press(index, position, heard);
    }
    void bringToFront() override { m_panel.bringToFront(); }

    int presses = 0;

private:
    PanelControl &m_panel;
};

/** The same panel with a client in this process: a script on the panel's socket, or with
    `scpi` an SCPI client on its loopback port. Every answer comes from the panel's event
    loop, as for a client beside it. */
class ClientBench : public PressBench
{
public:
    explicit ClientBench(bool scpi)
    {
        if (scpi) {
            m_server = std::make_unique<RemoteServer>(
                [this] { return std::make_unique<ScpiInstrument>(counted, QString()); });
            QTcpServer probe; // a port that is free now
            probe.listen(QHostAddress::LocalHost);
            const quint16 port = probe.serverPort();
            probe.close();
            m_server->listenLoopback(port, std::cerr);
            auto *tcp = new QTcpSocket;
            m_socket.reset(tcp);
            tcp->connectToHost(QHostAddress::LocalHost, port);
            tcp->waitForConnected();
        } else {
            m_server = std::make_unique<RemoteServer>(window().engine());
            m_server->listen(RemoteServer::nameOf(file(), "SELVANE - Bench"), std::cerr);
            auto *local = new QLocalSocket;
            m_socket.reset(local);
            local->connectToServer(m_server->fullName());
            local->waitForConnected();
        }
    }
    /** Writes `requests` and turns the event loop until as many answers have come. */
    void ask(const QByteArray &requests, int count)
    {
        m_socket->write(requests);
        for (int answered = 0; answered < count;) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            for (; m_socket->canReadLine(); ++answered)
                m_socket->readLine();
        }
    }

    CountedPanel counted {window()};

private:
    std::unique_ptr<RemoteServer> m_server;
    std::unique_ptr<QIODevice> m_socket; ///< ends before the server
};

/** A press of position 1 or 2 of unit 1, which answers once. */
QByteArray pressLine(bool scpi, int position)
{
    return scpi ? "ROUT:CLOS (@11" + QByteArray::number(position) + ");*OPC?\n"
                : "{\"press\":\"1A" + QByteArray::number(position) + "\"}\n";
}

// A client's press: the line written, served by the panel, the answer read.
void BM_ClientPressRoundTrip(benchmark::State &state, bool scpi)
{
    ClientBench bench(scpi);
    int position = 1;
    for (auto _ : state) {
        bench.ask(pressLine(scpi, position), 1);
        position = 3 - position;
    }
}
BENCHMARK_CAPTURE(BM_ClientPressRoundTrip, script, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ClientPressRoundTrip, scpi, true)->Unit(benchmark::kMicrosecond);

/** An event of the operator's that is queued again each time it is handled, as clicks and
    repaints come one after the other: the longest time between two, and the most presses
    asked of SCPI's panel between two. */
class OperatorTurns : public QObject
{
public:
    explicit OperatorTurns(const CountedPanel &panel)
        : m_panel(panel)
    {
        m_sinceTurn.start();
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        longestMs = std::max(longestMs, double(m_sinceTurn.nsecsElapsed()) / 1e6);
        m_sinceTurn.restart();
        mostPresses = std::max(mostPresses, m_panel.presses - m_pressesBefore);
        m_pressesBefore = m_panel.presses;
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }
    double longestMs = 0;
    int mostPresses = 0;

private:
    const CountedPanel &m_panel;
    QElapsedTimer m_sinceTurn;
    int m_pressesBefore = m_panel.presses;
};

// 1,000 presses in a row from one client, and the operator's events meanwhile.
void BM_ThousandClientPresses(benchmark::State &state, bool scpi)
{
    ClientBench bench(scpi);
    QByteArray requests;
    for (int i = 0; i < 1000; ++i)
        requests += pressLine(scpi, 1 + i % 2);
    double longestMs = 0;
    int mostPresses = 0; // SCPI's alone are counted
    for (auto _ : state) {
        OperatorTurns turns(bench.counted);
        bench.ask(requests, 1000);
        longestMs = std::max(longestMs, turns.longestMs);
        mostPresses = std::max(mostPresses, turns.mostPresses);
    }
    state.counters["longest_stall_ms"] = longestMs;
    state.counters["most_presses_per_turn"] = mostPresses;
}
const auto worst = [](const std::vector<double> &runs) {
    return *std::max_element(runs.begin(), runs.end()); // the worst stall of all
};
BENCHMARK_CAPTURE(BM_ThousandClientPresses, script, false)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("max", worst);
BENCHMARK_CAPTURE(BM_ThousandClientPresses, scpi, true)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("max", worst);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
