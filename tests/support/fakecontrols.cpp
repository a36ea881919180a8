#include "fakecontrols.h"

#include <QRegularExpression>

FakeControls::FakeControls()
{
    texts[Control::Text2] = QStringLiteral("5000");
    texts[Control::Text5] = QStringLiteral("5001");
    texts[Control::Text6] = QStringLiteral("127.0.0.1");
    texts[Control::Text4] = QString();
    texts[Control::Combo1] = QStringLiteral("ASCII");
    for (Control c : {Control::Check1, Control::Check2, Control::Check3})
        values[c] = 0;
    for (Control c : {Control::Command1, Control::Check3, Control::Text2, Control::Text5, Control::Text6})
        enabled[c] = true;
}

void FakeControls::setEnabled(Control control, bool isEnabled)
{
    enabled[control] = isEnabled;
    if (!isEnabled)
        disabledInOrder.append(QString::number(int(control)));
}

void FakeControls::prependToDataPane(const QString &line)
{
    dataPane.prepend(line);
    dataPaneLines.prepend(line);
}

void FakeControls::messageBox(const QString &prompt, int style, const QString &title)
{
    messages.append({prompt, style, title});
}

void FakeControls::reportError(int number, const QString &description)
{
    reports.append({number, description});
}

QString FakeControls::afterTimestamp(const QString &line)
{
    // Timestamps follow the locale (19:03:32, 7:03:32 PM, 19時03分32秒); every tag that follows
    // one starts with one of these.
    static const QRegularExpression tag(
        QStringLiteral(":(  IN |  -> | OUT | ILLEGAL | Socket ID:)"));
    const QRegularExpressionMatch match = tag.match(line);
    return match.hasMatch() ? line.mid(match.capturedStart()) : line;
}
