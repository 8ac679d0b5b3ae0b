#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

namespace tessaly {

// One Tessaly per session: the first start owns a well-known name on the session bus and
// answers the freedesktop application interface there; a later start finds the name taken
// and asks its owner to come forward instead of running a second copy.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    // The desktop entry's id, as the freedesktop application interface wants it.
    static const QString kName;
    static const QString kPath;

    enum class Claim {
        First, // this process owns the name: go on starting
        Forwarded, // another one runs and was asked to come forward
        NoAnswer, // another one owns the name but did not answer
        NoBus, // no session bus: nothing can be told apart
    };

    explicit SingleInstance(QDBusConnection bus, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the name, or hands the start over to its owner. The launcher's activation token
    // (Wayland's XDG_ACTIVATION_TOKEN) travels along, so the owner's window may take the focus.
    Claim claim(const QString& activationToken, int answerTimeoutMs = 5000);

    // The line a start that did not become the first prints before it exits, and its status.
    static QString outcomeLine(Claim claim);
    static int exitStatus(Claim claim);

signals:
    // Another start asked for this one; `activationToken` may be empty.
    void activated(const QString& activationToken);

public slots:
    // org.freedesktop.Application, called over the bus.
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

private:
    bool forward(const QString& activationToken, int answerTimeoutMs, bool& ownerGone);

    QDBusConnection m_bus;
    bool m_registered = false;
};

} // namespace tessaly
