#ifndef UPDATEGATE_H
#define UPDATEGATE_H

#include "platform/updatelock.h"

#include <QString>

// Whether this updater may change the application folder now, asked at each press of update. A
// folder the user may not change (under "Program Files") is updated by a copy of the updater
// started again with an administrator's rights and the same arguments, or not at all. Then the
// update lock, held from the press to the end of the install, so no other updater works under us.
class UpdateGate
{
public:
    enum class Outcome {
        Open, // the folder is ours until close()
        Restarting, // an elevated copy runs: this one should end
        Refused, // the user refused the elevated copy, or it could not start
        NeedsAdministrator, // not writable, and no administrator's rights to be had here
        HeldElsewhere, // another updater holds the lock: errorString() names it
        LockUnusable, // errorString() says why
    };

    explicit UpdateGate(const QString &appDir);

    Outcome open();
    void close();
    // Whether another updater holds the lock now; nothing is taken. holder gets the line that
    // names it: "another update is running", with its pid and computer where its file says.
    bool isHeldElsewhere(QString *holder) const;
    QString errorString() const;
    // The lock open() takes: what the road downloads and installs under it holds it by.
    UpdateLock *heldLock() { return &lock; }

private:
    QString appDir;
    UpdateLock lock;
    QString why;
};

#endif // UPDATEGATE_H
