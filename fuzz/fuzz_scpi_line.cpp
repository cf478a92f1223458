// SPDX-License-Identifier: MIT
// Any lines an SCPI client may send: each is executed or queued as an error, answers at most
// one line, presses only buttons the operator could, and leaves the instrument answering.

#include "remote/ScpiInstrument.h"

#include <QList>

#include <cstdint>
#include <cstdlib>

namespace {

/** Two units shown: unit 1 with an empty label (no button A4), unit 2 in edit mode. The
    bus refuses every third press. */
class Panel : public PanelControl
{
public:
    Holder holder() const override { return m_holder; }
    std::vector<ShownUnit> shownUnits() const override
    {
        std::vector<ShownUnit> units(2);
        for (int p = 0; p < kPositions; ++p)
            units[0].labels[std::size_t(p)] = units[1].labels[std::size_t(p)] = "\"x\"";
        units[0].labels[3].clear();
        units[1].Editing = true;
        return units;
    }
    void press(int index, int position, const Heard &heard) override
    {
        if (m_holder != Holder::Nobody || index != 0 || position == 3 || position < 0
            || position >= kPositions)
            std::abort(); // a button the operator could not press now
        UnitDeviceLink::Result result;
        result.ok = ++m_presses % 3 != 0;
        heard(result);
    }
    void bringToFront() override { }

    Holder m_holder = Holder::Nobody;
    int m_presses = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Panel panel;
    ScpiInstrument instrument(panel, QStringLiteral("Fuzz, a;b"));
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    for (const QByteArrayView line : input.split('\n')) {
        // The operator takes the panel for a line now and then.
        panel.m_holder =
            line.size() % 5 == 4 ? PanelControl::Holder::MessageBox : PanelControl::Holder::Nobody;
        const QByteArray answer = instrument.execute(line.first(qMin(line.size(), 4096)));
        if (!answer.isEmpty() && (!answer.endsWith('\n') || answer.count('\n') != 1))
            std::abort();
        panel.m_holder = PanelControl::Holder::Nobody;
        bool counted = false;
        const QByteArray errors = instrument.execute("*OPC?;SYST:ERR:COUN?");
        if (!errors.startsWith("1;") || errors.sliced(2).trimmed().toUInt(&counted) > 10
            || !counted)
            std::abort();
    }
    return 0;
}
