#ifndef VIRELONADAPTOR_H
#define VIRELONADAPTOR_H

#include <QDBusAbstractAdaptor>
#include <QStringList>
#include <QVariantMap>

// Carries the interface "com.vorlane.Virelon" for the service object: each method is handed on
// by name to the parent's slot of the same name, and the parent's signals are relayed as they are.
class VirelonAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vorlane.Virelon")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"com.vorlane.Virelon\">\n"
                "    <method name=\"subscribe\">\n"
                "      <arg direction=\"in\" type=\"as\" name=\"links\"/>\n"
                "      <arg direction=\"in\" type=\"s\" name=\"pluginType\"/>\n"
                "    </method>\n"
                "    <method name=\"unsubscribe\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"uri\"/>\n"
                "    </method>\n"
                "    <method name=\"setConf\">\n"
                "      <annotation value=\"QVariantMap\" name=\"com.trolltech.QtDBus.QtTypeName.In0\"/>\n"
                "      <arg direction=\"in\" type=\"a{sv}\" name=\"settings\"/>\n"
                "    </method>\n"
                "    <method name=\"conf\">\n"
                "      <annotation value=\"QVariantMap\" name=\"com.trolltech.QtDBus.QtTypeName.Out0\"/>\n"
                "      <arg direction=\"out\" type=\"a{sv}\"/>\n"
                "    </method>\n"
                "    <method name=\"channelStatus\">\n"
                "      <arg direction=\"in\" type=\"as\" name=\"channelUriList\"/>\n"
                "      <annotation value=\"QVariantMap\" name=\"com.trolltech.QtDBus.QtTypeName.Out0\"/>\n"
                "      <arg direction=\"out\" type=\"a{sv}\"/>\n"
                "    </method>\n"
                "    <method name=\"enclosureStatus\">\n"
                "      <arg direction=\"in\" type=\"as\" name=\"enclosureUriList\"/>\n"
                "      <annotation value=\"QVariantMap\" name=\"com.trolltech.QtDBus.QtTypeName.Out0\"/>\n"
                "      <arg direction=\"out\" type=\"a{sv}\"/>\n"
                "    </method>\n"
                "    <method name=\"refresh\">\n"
                "      <arg direction=\"in\" type=\"as\" name=\"uriList\"/>\n"
                "    </method>\n"
                "    <method name=\"cancelRefresh\">\n"
                "      <arg direction=\"in\" type=\"as\" name=\"uriList\"/>\n"
                "    </method>\n"
                "    <method name=\"downloadEnclosure\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"channelUri\"/>\n"
                "      <arg direction=\"in\" type=\"as\" name=\"enclosureUriList\"/>\n"
                "    </method>\n"
                "    <method name=\"cancelDownloadEnclosure\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"channelUri\"/>\n"
                "      <arg direction=\"in\" type=\"as\" name=\"enclosureUriList\"/>\n"
                "    </method>\n"
                "    <method name=\"pauseDownloadEnclosure\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"channelUri\"/>\n"
                "      <arg direction=\"in\" type=\"as\" name=\"enclosureUriList\"/>\n"
                "    </method>\n"
                "    <method name=\"resumeDownloadEnclosure\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"channelUri\"/>\n"
                "      <arg direction=\"in\" type=\"as\" name=\"enclosureUriList\"/>\n"
                "    </method>\n"
                "    <method name=\"registerEnclosureDownloadProgress\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"enclosureUri\"/>\n"
                "    </method>\n"
                "    <method name=\"cancelEnclosureDownloadProgress\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"enclosureUri\"/>\n"
                "    </method>\n"
                "    <method name=\"editChannel\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"channelUri\"/>\n"
                "      <annotation value=\"QVariantMap\" name=\"com.trolltech.QtDBus.QtTypeName.In1\"/>\n"
                "      <arg direction=\"in\" type=\"a{sv}\"/>\n"
                "    </method>\n"
                "    <method name=\"state\">\n"
                "      <arg direction=\"out\" type=\"i\"/>\n"
                "    </method>\n"
                "    <method name=\"transferDetails\">\n"
                "      <arg direction=\"in\" type=\"s\" name=\"transferId\"/>\n"
                "      <arg direction=\"in\" type=\"as\" name=\"fields\"/>\n"
                "      <annotation value=\"QVariantMap\" name=\"com.trolltech.QtDBus.QtTypeName.Out0\"/>\n"
                "      <arg direction=\"out\" type=\"a{sv}\"/>\n"
                "    </method>\n"
                "    <signal name=\"refreshStarted\">\n"
                "      <arg direction=\"out\" type=\"s\" name=\"channelUri\"/>\n"
                "    </signal>\n"
                "    <signal name=\"refreshCompleted\">\n"
                "      <arg direction=\"out\" type=\"s\" name=\"channelUri\"/>\n"
                "    </signal>\n"
                "    <signal name=\"refreshError\">\n"
                "      <arg direction=\"out\" type=\"s\" name=\"channelUri\"/>\n"
                "      <arg direction=\"out\" type=\"i\" name=\"errorCode\"/>\n"
                "    </signal>\n"
                "    <signal name=\"refreshState\">\n"
                "      <arg direction=\"out\" type=\"i\" name=\"state\"/>\n"
                "    </signal>\n"
                "    <signal name=\"enclosureDownloadStarted\">\n"
                "      <arg direction=\"out\" type=\"s\" name=\"enclosureUri\"/>\n"
                "    </signal>\n"
                "    <signal name=\"enclosureDownloadCompleted\">\n"
                "      <arg direction=\"out\" type=\"s\" name=\"enclosureUri\"/>\n"
                "      <arg direction=\"out\" type=\"x\" name=\"timeElapsed\"/>\n"
                "    </signal>\n"
                "    <signal name=\"enclosureDownloadError\">\n"
                "      <arg direction=\"out\" type=\"as\" name=\"enclosureUriList\"/>\n"
                "      <arg direction=\"out\" type=\"i\" name=\"errorCode\"/>\n"
                "      <arg direction=\"out\" type=\"x\" name=\"timeElapsed\"/>\n"
                "    </signal>\n"
                "    <signal name=\"enclosureDownloadProgress\">\n"
                "      <arg direction=\"out\" type=\"s\" name=\"enclosureUri\"/>\n"
                "      <arg direction=\"out\" type=\"x\" name=\"totalSize\"/>\n"
                "      <arg direction=\"out\" type=\"x\" name=\"downloadedSize\"/>\n"
                "      <arg direction=\"out\" type=\"x\" name=\"timeRemaining\"/>\n"
                "    </signal>\n"
                "    <signal name=\"editChannelStatus\">\n"
                "      <arg direction=\"out\" type=\"s\" name=\"channelUri\"/>\n"
                "      <arg direction=\"out\" type=\"i\" name=\"errorCode\"/>\n"
                "    </signal>\n"
                "  </interface>\n")

public:
    explicit VirelonAdaptor(QObject* parent);

public slots:
    void cancelDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList);
    void cancelEnclosureDownloadProgress(const QString& enclosureUri);
    void cancelRefresh(const QStringList& uriList);
    QVariantMap channelStatus(const QStringList& channelUriList);
    QVariantMap conf();
    void downloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList);
    void editChannel(const QString& channelUri, const QVariantMap& properties);
    QVariantMap enclosureStatus(const QStringList& enclosureUriList);
    void pauseDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList);
    void refresh(const QStringList& uriList);
    void registerEnclosureDownloadProgress(const QString& enclosureUri);
    void resumeDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList);
    void setConf(const QVariantMap& settings);
    int state();
    void subscribe(const QStringList& links, const QString& pluginType);
    QVariantMap transferDetails(const QString& transferId, const QStringList& fields);
    void unsubscribe(const QString& uri);

signals:
    void editChannelStatus(const QString& channelUri, int errorCode);
    void enclosureDownloadCompleted(const QString& enclosureUri, qlonglong timeElapsed);
    void enclosureDownloadError(const QStringList& enclosureUriList, int errorCode, qlonglong timeElapsed);
    void enclosureDownloadProgress(const QString& enclosureUri, qlonglong totalSize, qlonglong downloadedSize,
                                   qlonglong timeRemaining);
    void enclosureDownloadStarted(const QString& enclosureUri);
    void refreshCompleted(const QString& channelUri);
    void refreshError(const QString& channelUri, int errorCode);
    void refreshStarted(const QString& channelUri);
    void refreshState(int state);

private:
    Q_DISABLE_COPY(VirelonAdaptor)
};

#endif
