#pragma once

#include <QObject>
#include <QString>

// One running application per desktop session, by the desktop's own convention: the first start
// owns the application identifier as a name on the session bus and answers
// org.freedesktop.Application there, at the path made from the identifier (what a launcher calls
// for a D-Bus-activatable application, and what the bus starts the application for); a later
// start asks the owner to activate itself, and ends.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Start {
        First,      // owns the name; told when another start or a launcher asks for it
        HandedOver, // the running instance answered: this start ends here
        Alone,      // no session bus, or its name's owner did not answer: runs without the name
    };

    explicit SingleInstance(QString applicationId, QObject *parent = nullptr);

    // Claims the name, or else asks its owner to activate, waiting a few seconds at most for the
    // answer. Blocks; one round trip to the bus when the name is free.
    Start claim();

Q_SIGNALS:
    // Activate, or Open (the application opens no documents): bring the application forward.
    void activationRequested();

private:
    QString m_id;
};
