#ifndef GPSA_COMMANDFRAMEDIALOG_H
#define GPSA_COMMANDFRAMEDIALOG_H

#include <QByteArray>
#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Builds a command frame that a device accepts: the kind, the payload and its type, a live
// preview of the frame in hexadecimal with its length, and "Use". What cannot be built is
// told in the dialog, and "Use" waits until it can.
class CommandFrameDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit CommandFrameDialog(QWidget *parent = nullptr);

    // The frame built from the current choices; empty while none can be.
    [[nodiscard]] QByteArray frame() const { return m_frame; }

    QComboBox *kind = nullptr;
    QLineEdit *payload = nullptr;
    QComboBox *payloadType = nullptr;
    QLabel *preview = nullptr;
    QLabel *problem = nullptr;
    QPushButton *use = nullptr;

private:
    void rebuild();

    QByteArray m_frame;
};

#endif
