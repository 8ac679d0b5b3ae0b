#pragma once

#include <memory>

#include <QWidget>

class QLabel;
class QPushButton;

namespace tessaly {

class QrCodeView;
class WirelessPairing;

// "Pair over Wi-Fi (QR code)": the code to scan, the steps on the phone, a live status line,
// and Cancel. A view of WirelessPairing that keeps nothing of its own; closing it calls the
// pairing off.
class PairingWindow : public QWidget {
    Q_OBJECT

public:
    // Object names of the parts tests look for.
    static constexpr const char* kStatus = "pairingStatus";
    static constexpr const char* kErrorTitle = "pairingErrorTitle";
    static constexpr const char* kErrorAdvice = "pairingErrorAdvice";
    static constexpr const char* kShowDetails = "pairingShowDetails";
    static constexpr const char* kTryAgain = "pairingTryAgain";
    static constexpr const char* kCancel = "pairingCancel";

    explicit PairingWindow(std::unique_ptr<WirelessPairing> pairing, QWidget* parent = nullptr);
    ~PairingWindow() override;

    // Starts a new attempt (new name and password) and brings the window to the front.
    void open();

    WirelessPairing& pairing() const { return *m_pairing; }
    QrCodeView& qrCode() const { return *m_qr; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void redraw();

    std::unique_ptr<WirelessPairing> m_pairing;
    QrCodeView* m_qr = nullptr;
    QWidget* m_codeArea = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_errorIcon = nullptr;
    QLabel* m_errorTitle = nullptr;
    QLabel* m_errorAdvice = nullptr;
    QPushButton* m_showDetails = nullptr;
    QPushButton* m_tryAgain = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace tessaly
