#include "commandframedialog.h"

#include "commandcomposer.h"
#include "commandframe.h"
#include "hexdigits.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CommandFrameDialog::CommandFrameDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Build frame"));
    kind = new QComboBox(this);
    kind->addItem(tr("Teltonika Codec 12"), int(CommandFrameKind::Codec12));
    kind->addItem(tr("GT06 online command"), int(CommandFrameKind::GT06));
    kind->addItem(tr("NMEA sentence"), int(CommandFrameKind::NMEA));
    payload = new QLineEdit(this);
    payloadType = new QComboBox(this);
    payloadType->addItems({QStringLiteral("ASCII"), QStringLiteral("HEX")});
    preview = new QLabel(this);
    preview->setTextInteractionFlags(Qt::TextSelectableByMouse);
    preview->setWordWrap(true);
    preview->setMinimumWidth(360);
    problem = new QLabel(this);
    problem->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    use = buttons->addButton(tr("Use"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *form = new QFormLayout(this);
    form->addRow(tr("Kind:"), kind);
    form->addRow(tr("Payload:"), payload);
    form->addRow(tr("Payload type:"), payloadType);
    form->addRow(tr("Frame:"), preview);
    form->addRow(problem);
    form->addRow(buttons);

    connect(kind, &QComboBox::currentIndexChanged, this, &CommandFrameDialog::rebuild);
    connect(payloadType, &QComboBox::currentIndexChanged, this, &CommandFrameDialog::rebuild);
    connect(payload, &QLineEdit::textChanged, this, &CommandFrameDialog::rebuild);
    rebuild();
}

void CommandFrameDialog::rebuild()
{
    // The payload is read as the command box reads a command of that type.
    const ComposedCommand command = composeCommand(payloadType->currentText(), payload->text());
    CommandFrame built;
    if (!command.illegalElements.isEmpty())
        built.error = tr("'%1' is no hexadecimal byte").arg(command.illegalElements.constFirst());
    else
        built = buildCommandFrame(CommandFrameKind(kind->currentData().toInt()), command.bytes);
    m_frame = built.ok() ? built.bytes : QByteArray();
    preview->setText(built.ok() ? tr("%1 (%n bytes)", nullptr, int(m_frame.size())).arg(QString::fromLatin1(Hex::upper(m_frame, ' ')))
                                : QString());
    problem->setText(built.ok() ? QString() : built.error);
    use->setEnabled(built.ok());
}
