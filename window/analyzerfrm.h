#ifndef GPSA_ANALYZERFRM_H
#define GPSA_ANALYZERFRM_H

#include "captureengine.h"
#include "controls.h"
#include "globalmodule.h"
#include "panewatcher.h"
#include "webaccess.h"

#include <QWidget>

class BrowserStrip;
class LiveViewService;
class FeatureMenus;
class PositionsModel;
class PositionsWindow;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SocketsLibrary;
class TextPane;
class TrackersWindow;

// The operator's window: every control at its place with its load-time contents, the
// capture engine that the controls drive, and the host services that find the local
// address. Only its eight handlers run the system's code: Form_Load, Form_Activate,
// Command1_Click here, and the five socket handlers inside the engine.
class AnalyzerFrm final : public QWidget, public Controls
{
    Q_OBJECT

public:
    AnalyzerFrm(const QString &captureFolder, SocketsLibrary &sockets, QWidget *parent = nullptr);
    ~AnalyzerFrm() override;

    void Form_Load();
    // Runs when the window becomes the program's active window: shows the local address
    // and opens the advertisement page.
    void Form_Activate();
    void Command1_Click();

    [[nodiscard]] TextPane *Text1() const { return m_text1; }
    [[nodiscard]] QLineEdit *Text2() const { return m_text2; }
    [[nodiscard]] TextPane *Text3() const { return m_text3; }
    [[nodiscard]] QLineEdit *Text4() const { return m_text4; }
    [[nodiscard]] QLineEdit *Text5() const { return m_text5; }
    [[nodiscard]] QLineEdit *Text6() const { return m_text6; }
    [[nodiscard]] QCheckBox *Check1() const { return m_check1; }
    [[nodiscard]] QCheckBox *Check2() const { return m_check2; }
    [[nodiscard]] QCheckBox *Check3() const { return m_check3; }
    [[nodiscard]] QComboBox *Combo1() const { return m_combo1; }
    [[nodiscard]] QPushButton *Command1() const { return m_command1; }
    [[nodiscard]] QLabel *Label1() const { return m_label1; }
    [[nodiscard]] QLabel *Label2() const { return m_label2; }
    [[nodiscard]] QLabel *Label3() const { return m_label3; }
    [[nodiscard]] QLabel *Label4() const { return m_label4; }
    [[nodiscard]] QLabel *Label5() const { return m_label5; }
    [[nodiscard]] QLabel *Label6() const { return m_label6; }
    [[nodiscard]] QLabel *Label7() const { return m_label7; }
    [[nodiscard]] QGroupBox *Frame1() const { return m_frame1; }
    [[nodiscard]] QGroupBox *Frame2() const { return m_frame2; }
    [[nodiscard]] BrowserStrip *WebBrowser1() const { return m_webBrowser1; }
    // The area below the menu bar that holds the controls, of the size given in twips below.
    [[nodiscard]] QWidget *clientArea() const { return m_client; }
    [[nodiscard]] FeatureMenus *menus() const { return m_menus; }
    static constexpr int ClientWidth = 14160;
    static constexpr int ClientHeight = 8355;
    // The controls that show a caption, what it says, and the room it has in its control.
    [[nodiscard]] QList<QWidget *> captioned() const;
    [[nodiscard]] static QString captionOf(const QWidget *control);
    [[nodiscard]] int captionRoom(const QWidget *control) const;

    [[nodiscard]] CaptureEngine &engine() { return m_engine; }
    // View ▸ Trackers, once it has been opened.
    [[nodiscard]] TrackersWindow *trackersWindow() const { return m_trackersWindow; }
    // Capture ▸ Trackers at once... and Capture ▸ Mirror to...: false, with a message, for a
    // choice that cannot be; fixed once capturing starts.
    bool chooseTrackersAtOnce(int trackers);
    bool chooseMirrors(const QString &mirrors);
    // View ▸ Positions, shown and raised; made at its first opening.
    PositionsWindow *showPositions();

    // The live web view of the panes (File > Share live view..., --web): false, with the reason
    // in liveViewError(), when it cannot listen. Once per run.
    bool startLiveView(const WebSettings &settings);
    [[nodiscard]] LiveViewService *liveView() const { return m_liveView; }
    [[nodiscard]] QString liveViewError() const { return m_liveViewError; }
    [[nodiscard]] GLOBALModule &globalModule() { return m_globalModule; }

    // The page that Form_Activate opens in WebBrowser1: the program's own, bundled with it.
    [[nodiscard]] static QString advertisementAddress();
    // Pixels for a length in twips at the window's logical dots per inch.
    [[nodiscard]] int pixelsX(int twips) const;
    [[nodiscard]] int pixelsY(int twips) const;

    // Sets the text of a text box or of the command type, as the operator would type it.
    void setText(Control control, const QString &text);

    // Controls
    [[nodiscard]] QString text(Control control) const override;
    [[nodiscard]] int value(Control checkBox) const override;
    void setValue(Control checkBox, int value) override;
    using QWidget::setEnabled;
    void setEnabled(Control control, bool enabled) override;
    void appendToLog(const QString &line) override;
    void prependToLog(const QString &line) override;
    void replaceLog(const QString &text) override;
    void prependToDataPane(const QString &line) override;
    // A chunk's lines join the data pane unrendered, so that a flood the pane cannot show costs
    // no text.
    void prependChunkLines(QLatin1StringView asciiTag, QLatin1StringView hexTag, const QByteArray &chunk) override;
    void positionsDecoded(std::span<const PositionRow> rows) override;
    void messageBox(const QString &prompt, int style, const QString &title) override;
    void reportError(int number, const QString &description) override;
    void endProgram() override;
    void eventHandled() override;
    [[nodiscard]] CaptureFeatures features() const override;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void createControls();
    // The frame of the connections with the controls above it, the frame of the capture and the
    // command, and each control's name.
    void createConnectionControls();
    void createCaptureControls();
    void nameControls();
    void setFocusOrder();
    // How a control follows the window when it grows beyond its size.
    enum class Stretch { None, Width, Pane, BelowPane, Strip };
    struct Placement
    {
        QWidget *widget;
        QRect twips;
        Stretch stretch;
    };
    void place(QWidget *widget, int left, int top, int width, int height, Stretch stretch = Stretch::None);
    void layoutControls();
    [[nodiscard]] QFont fittingFormFont() const;
    void exportSession();
    void buildCommandFrame();
    void showAbout();
    void askTrackersAtOnce();
    void askMirrors();
    void showTrackers();
    void shareLiveView();
    [[nodiscard]] QWidget *widget(Control control) const;
    [[nodiscard]] QCheckBox *checkBox(Control control) const;

    FeatureMenus *m_menus = nullptr;
    PositionsModel *m_positions = nullptr;
    PositionsWindow *m_positionsWindow = nullptr;
    QWidget *m_client = nullptr;
    QList<Placement> m_placements;
    QGroupBox *m_frame1 = nullptr;
    QGroupBox *m_frame2 = nullptr;
    TextPane *m_text1 = nullptr;
    QLineEdit *m_text2 = nullptr;
    TextPane *m_text3 = nullptr;
    QLineEdit *m_text4 = nullptr;
    QLineEdit *m_text5 = nullptr;
    QLineEdit *m_text6 = nullptr;
    QCheckBox *m_check1 = nullptr;
    QCheckBox *m_check2 = nullptr;
    QCheckBox *m_check3 = nullptr;
    QComboBox *m_combo1 = nullptr;
    QPushButton *m_command1 = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_label2 = nullptr;
    QLabel *m_label3 = nullptr;
    QLabel *m_label4 = nullptr;
    QLabel *m_label5 = nullptr;
    QLabel *m_label6 = nullptr;
    QLabel *m_label7 = nullptr;
    BrowserStrip *m_webBrowser1 = nullptr;
    TrackersWindow *m_trackersWindow = nullptr;

    GLOBALModule m_globalModule;
    CaptureEngine m_engine;
    // The live view's hook: every pane line goes to the watcher too. Null: none.
    PaneWatcher *m_paneWatcher = nullptr;
    LiveViewService *m_liveView = nullptr;
    QString m_liveViewError;

    // Form_Activate runs when the window becomes active for the first time, and again only
    // after another window of the program was active: not after a message box, and not
    // when the operator comes back from another program.
    bool m_activated = false;
    bool m_activationAwaited = false;
    bool m_otherWindowWasActive = false;
};

#endif
