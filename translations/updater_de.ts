<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>BuiltInTrust</name>
    <message>
        <source>The updater&apos;s built-in certificates cannot be read, so it cannot check any server. Install the updater again.</source>
        <translation>Die eingebauten Zertifikate des Updaters lassen sich nicht lesen, daher kann er keinen Server prüfen. Installieren Sie den Updater neu.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Updates Morvane in the folder of this program. Without an option, or with the installed version alone, it opens its window.</source>
        <translation>Aktualisiert Morvane im Ordner dieses Programms. Ohne Option oder nur mit der installierten Version öffnet es sein Fenster.</translation>
    </message>
    <message>
        <source>Shows this updater&apos;s version, its server and its signing key.</source>
        <translation>Zeigt die Version dieses Updaters, seinen Server und seinen Signaturschlüssel.</translation>
    </message>
    <message>
        <source>Tells whether an update is available; exit status 0 up to date, 10 available, 1 failure.</source>
        <translation>Sagt, ob ein Update verfügbar ist; Exit-Status 0 aktuell, 10 verfügbar, 1 Fehler.</translation>
    </message>
    <message>
        <source>VERSION</source>
        <translation>VERSION</translation>
    </message>
    <message>
        <source>Downloads, verifies and installs the update without asking, then starts Morvane; exit status 0 when up to date afterwards.</source>
        <translation>Lädt das Update herunter, prüft und installiert es ohne Rückfrage und startet dann Morvane; Exit-Status 0, wenn danach alles aktuell ist.</translation>
    </message>
    <message>
        <source>With --update: Morvane is not started.</source>
        <translation>Mit --update: Morvane wird nicht gestartet.</translation>
    </message>
    <message>
        <source>Fetches and verifies the update and tells what it would change in --app-dir, changing nothing.</source>
        <translation>Lädt das Update herunter, prüft es und sagt, was es in --app-dir ändern würde, ohne etwas zu ändern.</translation>
    </message>
    <message>
        <source>The folder --dry-run plans against.</source>
        <translation>Der Ordner, für den --dry-run plant.</translation>
    </message>
    <message>
        <source>DIR</source>
        <translation>ORDNER</translation>
    </message>
    <message>
        <source>Appends the log&apos;s lines, with their times, to FILE.</source>
        <translation>Hängt die Zeilen des Protokolls mit ihrer Uhrzeit an DATEI an.</translation>
    </message>
    <message>
        <source>FILE</source>
        <translation>DATEI</translation>
    </message>
    <message>
        <source>The installed version, for the window.</source>
        <translation>Die installierte Version, für das Fenster.</translation>
    </message>
    <message>
        <source>[version]</source>
        <translation>[Version]</translation>
    </message>
    <message>
        <source>--help, --version, --check, --update and --dry-run exclude each other</source>
        <translation>--help, --version, --check, --update und --dry-run schließen einander aus</translation>
    </message>
    <message>
        <source>unexpected argument: %1</source>
        <translation>unerwartetes Argument: %1</translation>
    </message>
    <message>
        <source>the installed version is missing</source>
        <translation>die installierte Version fehlt</translation>
    </message>
    <message>
        <source>--no-start goes with --update</source>
        <translation>--no-start gehört zu --update</translation>
    </message>
    <message>
        <source>--dry-run and --app-dir go together</source>
        <translation>--dry-run und --app-dir gehören zusammen</translation>
    </message>
    <message>
        <source>%1
updater --help tells the options</source>
        <translation>%1
updater --help nennt die Optionen</translation>
    </message>
    <message>
        <source>cannot open the log %1: %2</source>
        <translation>das Protokoll %1 lässt sich nicht öffnen: %2</translation>
    </message>
    <message>
        <source>these options open no window and ask for nothing to be done</source>
        <translation>diese Optionen öffnen kein Fenster und verlangen nichts</translation>
    </message>
</context>
<context>
    <name>ConsoleRoad</name>
    <message>
        <source>downloading %1 %</source>
        <translation>Download %1 %</translation>
    </message>
    <message>
        <source>the update goes on in a copy with administrator rights, whose outcome is not known here</source>
        <translation>das Update läuft in einer Kopie mit Administratorrechten weiter, deren Ergebnis hier nicht bekannt ist</translation>
    </message>
</context>
<context>
    <name>FailureText</name>
    <message>
        <source>the server&apos;s answer does not match its own headers</source>
        <translation>die Antwort des Servers passt nicht zu ihren eigenen Kopfzeilen</translation>
    </message>
    <message>
        <source>the server answered %1, a redirect, which the updater does not follow</source>
        <translation>der Server antwortete mit %1, einer Umleitung, der der Updater nicht folgt</translation>
    </message>
    <message>
        <source>the server answered %1</source>
        <translation>der Server antwortete mit %1</translation>
    </message>
    <message>
        <source>the server answered %1 %2</source>
        <translation>der Server antwortete mit %1 %2</translation>
    </message>
    <message>
        <source>cannot reach %1: connection refused</source>
        <translation>%1 ist nicht erreichbar: Verbindung abgelehnt</translation>
    </message>
    <message>
        <source>cannot reach %1: host not found</source>
        <translation>%1 ist nicht erreichbar: Host nicht gefunden</translation>
    </message>
    <message>
        <source>no answer from %1 within %2 s</source>
        <translation>keine Antwort von %1 innerhalb von %2 s</translation>
    </message>
    <message>
        <source>the connection to %1 is too slow: less than %2 in %3 s</source>
        <translation>die Verbindung zu %1 ist zu langsam: weniger als %2 in %3 s</translation>
    </message>
    <message>
        <source>the connection to %1 was lost</source>
        <translation>die Verbindung zu %1 ist abgebrochen</translation>
    </message>
    <message>
        <source>the server sent a compressed answer, which the updater does not accept</source>
        <translation>der Server schickte eine komprimierte Antwort, die der Updater nicht annimmt</translation>
    </message>
    <message>
        <source>the server&apos;s answer is larger than %1</source>
        <translation>die Antwort des Servers ist größer als %1</translation>
    </message>
    <message>
        <source>the address is not an http or https address</source>
        <translation>die Adresse ist keine http- oder https-Adresse</translation>
    </message>
    <message>
        <source>the server sent an empty file</source>
        <translation>der Server schickte eine leere Datei</translation>
    </message>
    <message>
        <source>the network failed while talking to %1</source>
        <translation>das Netzwerk versagte während der Verbindung mit %1</translation>
    </message>
    <message>
        <source>the disk is full</source>
        <translation>der Datenträger ist voll</translation>
    </message>
    <message>
        <source>not enough disk space: %1 needed, %2 free</source>
        <translation>nicht genug Speicherplatz: %1 nötig, %2 frei</translation>
    </message>
    <message>
        <source>the package could not be saved in the folder %1</source>
        <translation>das Paket ließ sich nicht im Ordner %1 speichern</translation>
    </message>
    <message>
        <source>another update is running; try again once it has finished</source>
        <translation>ein anderes Update läuft; versuchen Sie es erneut, wenn es fertig ist</translation>
    </message>
    <message>
        <source>the download was cancelled</source>
        <translation>der Download wurde abgebrochen</translation>
    </message>
    <message>
        <source>the connection to %1 was lost %2 times</source>
        <translation>die Verbindung zu %1 ist %2-mal abgebrochen</translation>
    </message>
    <message>
        <source>the server sent an empty answer instead of the update information</source>
        <translation>der Server schickte statt der Update-Informationen eine leere Antwort</translation>
    </message>
    <message>
        <source>the update information is not valid JSON (line %1, column %2)</source>
        <translation>die Update-Informationen sind kein gültiges JSON (Zeile %1, Spalte %2)</translation>
    </message>
    <message>
        <source>the update information holds a version or an address longer than any release uses</source>
        <translation>die Update-Informationen enthalten eine Version oder Adresse, die länger ist als bei jeder Veröffentlichung</translation>
    </message>
    <message>
        <source>no signature was published beside the package (%1)</source>
        <translation>neben dem Paket wurde keine Signatur veröffentlicht (%1)</translation>
    </message>
    <message>
        <source>no signature was published beside the update information (%1)</source>
        <translation>neben den Update-Informationen wurde keine Signatur veröffentlicht (%1)</translation>
    </message>
    <message>
        <source>the signature of the package is not readable</source>
        <translation>die Signatur des Pakets ist nicht lesbar</translation>
    </message>
    <message>
        <source>the signature of the update information is not readable</source>
        <translation>die Signatur der Update-Informationen ist nicht lesbar</translation>
    </message>
    <message>
        <source>the updater&apos;s built-in key is unusable; install the updater again</source>
        <translation>der eingebaute Schlüssel des Updaters ist unbrauchbar; installieren Sie den Updater neu</translation>
    </message>
    <message>
        <source>the package was signed with a key this updater does not trust</source>
        <translation>das Paket wurde mit einem Schlüssel signiert, dem dieser Updater nicht vertraut</translation>
    </message>
    <message>
        <source>the update information was signed with a key this updater does not trust</source>
        <translation>die Update-Informationen wurden mit einem Schlüssel signiert, dem dieser Updater nicht vertraut</translation>
    </message>
    <message>
        <source>the signature was made for another file than the package</source>
        <translation>die Signatur gilt für eine andere Datei als das Paket</translation>
    </message>
    <message>
        <source>the signature was made for another file than the update information</source>
        <translation>die Signatur gilt für eine andere Datei als die Update-Informationen</translation>
    </message>
    <message>
        <source>the signature does not match: the package may have been altered</source>
        <translation>die Signatur passt nicht: das Paket wurde womöglich verändert</translation>
    </message>
    <message>
        <source>the signature does not match: the update information may have been altered</source>
        <translation>die Signatur passt nicht: die Update-Informationen wurden womöglich verändert</translation>
    </message>
    <message>
        <source>the update information names no package for this update</source>
        <translation>die Update-Informationen nennen kein Paket für dieses Update</translation>
    </message>
    <message>
        <source>the delta does not fit this installation and no whole package is named</source>
        <translation>das Delta passt nicht zu dieser Installation, und kein vollständiges Paket ist genannt</translation>
    </message>
    <message>
        <source>the install was cancelled; nothing was changed</source>
        <translation>die Installation wurde abgebrochen; nichts wurde geändert</translation>
    </message>
    <message>
        <source>the disk has too little room for the new files; nothing was changed</source>
        <translation>auf dem Datenträger ist zu wenig Platz für die neuen Dateien; nichts wurde geändert</translation>
    </message>
    <message>
        <source>try again once the other update has finished</source>
        <translation>versuchen Sie es erneut, wenn das andere Update fertig ist</translation>
    </message>
    <message>
        <source>a file of the application could not be replaced; nothing was changed</source>
        <translation>eine Datei der Anwendung ließ sich nicht ersetzen; nichts wurde geändert</translation>
    </message>
    <message>
        <source>the backups of the files it changed are kept for the next start</source>
        <translation>die Sicherungen der geänderten Dateien bleiben für den nächsten Start erhalten</translation>
    </message>
    <message>
        <source>the package is damaged or unsafe; nothing was changed</source>
        <translation>das Paket ist beschädigt oder unsicher; nichts wurde geändert</translation>
    </message>
    <message>
        <source>the downloaded file changed before it was used; try the update again</source>
        <translation>die heruntergeladene Datei hat sich vor ihrer Verwendung verändert; versuchen Sie das Update erneut</translation>
    </message>
    <message>
        <source>the full package is not a program (.exe); the publisher must fix it</source>
        <translation>das vollständige Paket ist kein Programm (.exe); der Herausgeber muss das beheben</translation>
    </message>
    <message>
        <source>the program is not there; install %1 again</source>
        <translation>das Programm ist nicht vorhanden; installieren Sie %1 neu</translation>
    </message>
    <message>
        <source>the system did not start it; start it by hand</source>
        <translation>das System hat es nicht gestartet; starten Sie es von Hand</translation>
    </message>
    <message>
        <source>%1 GB</source>
        <translation>%1 GB</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>the server %1 offers no secure connection of TLS 1.2 or newer</source>
        <translation>der Server %1 bietet keine sichere Verbindung mit TLS 1.2 oder neuer an</translation>
    </message>
    <message>
        <source>the server&apos;s certificate was issued for another name</source>
        <translation>das Zertifikat des Servers wurde für einen anderen Namen ausgestellt</translation>
    </message>
    <message>
        <source>the server&apos;s certificate has expired</source>
        <translation>das Zertifikat des Servers ist abgelaufen</translation>
    </message>
    <message>
        <source>the server&apos;s certificate is not valid yet; check the computer&apos;s date and time</source>
        <translation>das Zertifikat des Servers ist noch nicht gültig; prüfen Sie Datum und Uhrzeit des Computers</translation>
    </message>
    <message>
        <source>the server&apos;s certificate has been revoked</source>
        <translation>das Zertifikat des Servers wurde widerrufen</translation>
    </message>
    <message>
        <source>the server&apos;s certificate is not trusted</source>
        <translation>dem Zertifikat des Servers wird nicht vertraut</translation>
    </message>
    <message>
        <source>the server&apos;s certificate cannot be used for a secure connection</source>
        <translation>das Zertifikat des Servers taugt nicht für eine sichere Verbindung</translation>
    </message>
    <message>
        <source>the update server redirects the update information to %1; redirects are not followed</source>
        <translation>der Update-Server leitet die Update-Informationen nach %1 um; Umleitungen wird nicht gefolgt</translation>
    </message>
    <message>
        <source>the server redirected more than %1 times</source>
        <translation>der Server hat mehr als %1-mal umgeleitet</translation>
    </message>
    <message>
        <source>the server&apos;s redirects go round in a loop</source>
        <translation>die Umleitungen des Servers drehen sich im Kreis</translation>
    </message>
    <message>
        <source>the server redirected to %1, which is not an http or https address</source>
        <translation>der Server hat nach %1 umgeleitet, einer Adresse, die weder http noch https ist</translation>
    </message>
    <message>
        <source>the server redirected from a secure (https) address to an insecure one: %1</source>
        <translation>der Server hat von einer sicheren (https) auf eine unsichere Adresse umgeleitet: %1</translation>
    </message>
    <message>
        <source>insecure address in the update information: it came over https but names a package to fetch over http</source>
        <translation>unsichere Adresse in den Update-Informationen: Sie kamen über https, nennen aber ein Paket, das über http geladen würde</translation>
    </message>
</context>
<context>
    <name>LockFile</name>
    <message>
        <source>the download folder %1 cannot be used</source>
        <translation>der Download-Ordner %1 ist nicht verwendbar</translation>
    </message>
    <message>
        <source>the update lock in %1 keeps changing</source>
        <translation>die Update-Sperre in %1 ändert sich ständig</translation>
    </message>
</context>
<context>
    <name>Network</name>
    <message>
        <source>no address</source>
        <translation>keine Adresse</translation>
    </message>
    <message>
        <source>not an http or https address</source>
        <translation>keine http- oder https-Adresse</translation>
    </message>
</context>
<context>
    <name>PackageChoice</name>
    <message>
        <source>the update information has no release for %1</source>
        <translation>die Update-Informationen enthalten keine Version für %1</translation>
    </message>
    <message>
        <source>the update information has an unusable version: %1</source>
        <translation>die Update-Informationen enthalten eine unbrauchbare Version: %1</translation>
    </message>
    <message>
        <source>current version is : v%1
latest version : v%2
modify time : %3
changelog: %4
click update button to update</source>
        <translation>Installierte Version: v%1
Neueste Version: v%2
Geändert am: %3
Änderungen: %4
Klicken Sie auf „Aktualisieren“, um zu aktualisieren</translation>
    </message>
    <message>
        <source>current software is up-to-date
version: v%1
click cancel button to quit</source>
        <translation>Die Software ist auf dem neuesten Stand
Version: v%1
Klicken Sie auf „Abbrechen“, um zu beenden</translation>
    </message>
</context>
<context>
    <name>PackageFetch</name>
    <message>
        <source>downloading the delta from %1 (%2)</source>
        <translation>Download des Deltas ab %1 (%2)</translation>
    </message>
    <message>
        <source>using the package downloaded before</source>
        <translation>das zuvor heruntergeladene Paket wird verwendet</translation>
    </message>
    <message>
        <source>package signature invalid</source>
        <translation>Paketsignatur ungültig</translation>
    </message>
    <message>
        <source>the delta does not fit this installation, downloading the whole package</source>
        <translation>das Delta passt nicht zu dieser Installation, das vollständige Paket wird heruntergeladen</translation>
    </message>
</context>
<context>
    <name>PackageUse</name>
    <message>
        <source>the update could not be undone completely</source>
        <translation>das Update ließ sich nicht vollständig rückgängig machen</translation>
    </message>
    <message>
        <source>another update is running</source>
        <translation>ein anderes Update läuft</translation>
    </message>
    <message>
        <source>not enough disk space</source>
        <translation>nicht genug Speicherplatz</translation>
    </message>
    <message>
        <source>could not write the update</source>
        <translation>das Update ließ sich nicht schreiben</translation>
    </message>
    <message>
        <source>update package rejected</source>
        <translation>Update-Paket abgelehnt</translation>
    </message>
</context>
<context>
    <name>ProgressText</name>
    <message>
        <source>%1 bytes</source>
        <translation>%1 Bytes</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>Downloading updates (%1 of %2)</source>
        <translation>Updates werden heruntergeladen (%1 von %2)</translation>
    </message>
    <message>
        <source>Downloading updates (%1)</source>
        <translation>Updates werden heruntergeladen (%1)</translation>
    </message>
    <message>
        <source>about %1 hours</source>
        <translation>etwa %1 Stunden</translation>
    </message>
    <message>
        <source>1 minute</source>
        <translation>1 Minute</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 Minuten</translation>
    </message>
    <message>
        <source>1 second</source>
        <translation>1 Sekunde</translation>
    </message>
    <message>
        <source>%1 seconds</source>
        <translation>%1 Sekunden</translation>
    </message>
    <message>
        <source>speed: %1 kb/s  </source>
        <translation>Geschwindigkeit: %1 kb/s  </translation>
    </message>
    <message>
        <source>speed: %1 kb/s  Time remaining: %2</source>
        <translation>Geschwindigkeit: %1 kb/s  Verbleibende Zeit: %2</translation>
    </message>
    <message>
        <source>total time: %1s</source>
        <translation>Gesamtzeit: %1 s</translation>
    </message>
    <message>
        <source>total time: %1s    average speed: %2kb/s</source>
        <translation>Gesamtzeit: %1 s    Durchschnitt: %2 kb/s</translation>
    </message>
    <message>
        <source>connection lost, resuming at %1 (%2 of %3)</source>
        <translation>Verbindung abgebrochen, Fortsetzung bei %1 (%2 von %3)</translation>
    </message>
    <message>
        <source>connection lost, starting again (%1 of %2)</source>
        <translation>Verbindung abgebrochen, Neubeginn (%1 von %2)</translation>
    </message>
    <message>
        <source>wrong part received, starting again (%1 of %2)</source>
        <translation>falscher Teil empfangen, Neubeginn (%1 von %2)</translation>
    </message>
    <message>
        <source>server busy, trying again in %1 s (%2 of %3)</source>
        <translation>Server ausgelastet, neuer Versuch in %1 s (%2 von %3)</translation>
    </message>
</context>
<context>
    <name>UpdateCheck</name>
    <message>
        <source>the update information has no expiry date; the update server may be out of date</source>
        <translation>die Update-Informationen haben kein Ablaufdatum; der Update-Server ist womöglich veraltet</translation>
    </message>
    <message>
        <source>the update information has an expiry date that is not readable; the update server may be out of date</source>
        <translation>das Ablaufdatum der Update-Informationen ist nicht lesbar; der Update-Server ist womöglich veraltet</translation>
    </message>
    <message>
        <source>the update information expired on %1; the update server may be out of date</source>
        <translation>die Update-Informationen sind am %1 abgelaufen; der Update-Server ist womöglich veraltet</translation>
    </message>
</context>
<context>
    <name>UpdateLock</name>
    <message>
        <source>the download folder %1 cannot be used: its parent is missing</source>
        <translation>der Download-Ordner %1 ist nicht verwendbar: sein übergeordneter Ordner fehlt</translation>
    </message>
    <message>
        <source>another update is running</source>
        <translation>ein anderes Update läuft</translation>
    </message>
    <message>
        <source>another update is running (pid %1 on this computer)</source>
        <translation>ein anderes Update läuft (PID %1 auf diesem Computer)</translation>
    </message>
    <message>
        <source>another update is running (pid %1 on %2)</source>
        <translation>ein anderes Update läuft (PID %1 auf %2)</translation>
    </message>
</context>
<context>
    <name>UpdateRun</name>
    <message>
        <source>an interrupted update cannot be undone: the application folder cannot be changed now</source>
        <translation>ein unterbrochenes Update lässt sich nicht rückgängig machen: der Anwendungsordner kann jetzt nicht geändert werden</translation>
    </message>
    <message>
        <source>an interrupted update could not be undone</source>
        <translation>ein unterbrochenes Update ließ sich nicht rückgängig machen</translation>
    </message>
    <message>
        <source>the update could not be undone completely</source>
        <translation>das Update ließ sich nicht vollständig rückgängig machen</translation>
    </message>
    <message>
        <source>check error
%1</source>
        <translation>Fehler bei der Prüfung
%1</translation>
    </message>
    <message>
        <source>manifest signature invalid
%1</source>
        <translation>Signatur der Update-Informationen ungültig
%1</translation>
    </message>
    <message>
        <source>reply doc is null
%1</source>
        <translation>Antwort ist kein lesbares Dokument
%1</translation>
    </message>
    <message>
        <source>need full</source>
        <translation>vollständiges Paket nötig</translation>
    </message>
    <message>
        <source>download failed</source>
        <translation>Download fehlgeschlagen</translation>
    </message>
    <message>
        <source>starting again with administrator rights</source>
        <translation>Neustart mit Administratorrechten</translation>
    </message>
    <message>
        <source>administrator rights are needed to update</source>
        <translation>für das Update sind Administratorrechte nötig</translation>
    </message>
    <message>
        <source>download finished</source>
        <translation>Download abgeschlossen</translation>
    </message>
    <message>
        <source>package signature invalid</source>
        <translation>Paketsignatur ungültig</translation>
    </message>
    <message>
        <source>update package rejected</source>
        <translation>Update-Paket abgelehnt</translation>
    </message>
    <message>
        <source>cancelling the update...</source>
        <translation>das Update wird abgebrochen …</translation>
    </message>
    <message>
        <source>update could not be started: %1</source>
        <translation>das Update ließ sich nicht starten: %1</translation>
    </message>
    <message>
        <source>the update could not be undone completely: %1</source>
        <translation>das Update ließ sich nicht vollständig rückgängig machen: %1</translation>
    </message>
</context>
<context>
    <name>UpdaterDialog</name>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Installed version</source>
        <translation>Installierte Version</translation>
    </message>
    <message>
        <source>The version of Morvane installed here, which check compares with the latest release.</source>
        <translation>Die hier installierte Version von Morvane, die „Prüfen“ mit der neuesten Veröffentlichung vergleicht.</translation>
    </message>
    <message>
        <source>check</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>Check for updates</source>
        <translation>Nach Updates suchen</translation>
    </message>
    <message>
        <source>Asks the update server for the latest release.</source>
        <translation>Fragt den Update-Server nach der neuesten Version.</translation>
    </message>
    <message>
        <source>Messages</source>
        <translation>Meldungen</translation>
    </message>
    <message>
        <source>What the updater found and did. It can be scrolled, selected and copied.</source>
        <translation>Was der Updater gefunden und getan hat. Lässt sich scrollen, markieren und kopieren.</translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation>Download-Fortschritt</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Closes the updater; during an install it first undoes the install.</source>
        <translation>Schließt den Updater; während einer Installation macht er sie zuerst rückgängig.</translation>
    </message>
    <message>
        <source>update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Downloads the latest release and asks before installing it.</source>
        <translation>Lädt die neueste Version herunter und fragt vor der Installation.</translation>
    </message>
    <message>
        <source>Updater</source>
        <translation>Updater</translation>
    </message>
    <message>
        <source>download finished
start update?</source>
        <translation>Download abgeschlossen
Update jetzt starten?</translation>
    </message>
    <message>
        <source>Downloading Updates...</source>
        <translation>Updates werden heruntergeladen …</translation>
    </message>
</context>
</TS>
