<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>bv::AboutDialog</name>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>%1 Version %2</source>
        <translation>%1 Version %2</translation>
    </message>
    <message>
        <source>Created :</source>
        <translation>Erstellt :</translation>
    </message>
    <message>
        <source>For Linux and Windows</source>
        <translation>Für Linux und Windows</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>bv::CBrivaneMain</name>
    <message>
        <source>Control</source>
        <translation>Steuerung</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>Aktuell</translation>
    </message>
    <message>
        <source>Min</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>Average</source>
        <translation>Mittelwert</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Zero level</source>
        <translation>Nullpunkt</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
    <message>
        <source>Use current value as offset</source>
        <translation>Aktuellen Wert als Offset übernehmen</translation>
    </message>
    <message>
        <source>Scale</source>
        <translation>Skala</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Leistung</translation>
    </message>
    <message>
        <source>Flow rate</source>
        <translation>Durchfluss</translation>
    </message>
    <message>
        <source>Tin</source>
        <translation>Tein</translation>
    </message>
    <message>
        <source>T diff</source>
        <translation>T Diff</translation>
    </message>
    <message>
        <source>EC Power</source>
        <translation>EC-Leistung</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Power scale</source>
        <translation>Leistungsskala</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Time : Frequency</source>
        <translation>Zeit : Frequenz</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Einstellungen...</translation>
    </message>
    <message>
        <source>Protocol...</source>
        <translation>Protokoll...</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Communication</source>
        <translation>Kommunikation</translation>
    </message>
    <message>
        <source>Free communication...</source>
        <translation>Freie Kommunikation...</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>About...</source>
        <translation>Über...</translation>
    </message>
</context>
<context>
    <name>bv::CFreeComm</name>
    <message>
        <source>Free Communication</source>
        <translation>Freie Kommunikation</translation>
    </message>
    <message>
        <source>USB</source>
        <translation>USB</translation>
    </message>
    <message>
        <source>Serial</source>
        <translation>Seriell</translation>
    </message>
    <message>
        <source>USB2Serial</source>
        <translation>USB2Seriell</translation>
    </message>
    <message>
        <source>Parity</source>
        <translation>Parität</translation>
    </message>
    <message>
        <source>Scan</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Com port:</source>
        <translation>Com-Port:</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Command:</source>
        <translation>Befehl:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Von:</translation>
    </message>
    <message>
        <source>To:</source>
        <translation>An:</translation>
    </message>
    <message>
        <source>Hex:</source>
        <translation>Hex:</translation>
    </message>
    <message>
        <source>Bus monitor</source>
        <translation>Busmonitor</translation>
    </message>
</context>
<context>
    <name>bv::DeviceSettingsDialog</name>
    <message>
        <source>Settings Brivane</source>
        <translation>Einstellungen Brivane</translation>
    </message>
    <message>
        <source>Device adress:</source>
        <translation>Geräteadresse:</translation>
    </message>
    <message>
        <source>Deviation Limit (EC):</source>
        <translation>Abweichungsgrenze (EC):</translation>
    </message>
</context>
<context>
    <name>bv::PortDialog</name>
    <message>
        <source>Select port</source>
        <translation>Port wählen</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Com 1</source>
        <translation>Com 1</translation>
    </message>
    <message>
        <source>Com 2</source>
        <translation>Com 2</translation>
    </message>
    <message>
        <source>Com 3</source>
        <translation>Com 3</translation>
    </message>
    <message>
        <source>Com 4</source>
        <translation>Com 4</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>bv::ProtocolDialog</name>
    <message>
        <source>Write</source>
        <translation>Schreiben</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Log File</source>
        <translation>Protokolldatei</translation>
    </message>
    <message>
        <source>Filename:</source>
        <translation>Dateiname:</translation>
    </message>
    <message>
        <source>Database</source>
        <translation>Datenbank</translation>
    </message>
    <message>
        <source>Source Name:</source>
        <translation>Datenquelle:</translation>
    </message>
    <message>
        <source>User Name:</source>
        <translation>Benutzername:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
</context>
</TS>
