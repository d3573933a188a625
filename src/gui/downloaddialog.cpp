#include "gui/downloaddialog.h"

#include "core/updater.h"

#include <algorithm>

namespace {

// Per mille, so that sizes past the int range still fit the bar.
constexpr int s_steps = 1000;

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1);
}

} // namespace

DownloadDialog::DownloadDialog(Updater *updater, QWidget *parent)
    : QProgressDialog(progressText(0, -1), tr("Cancel"), 0, 0, parent), m_updater(updater)
{
    setWindowTitle(tr("Downloading Update"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The user may go on working (or hide the window to the tray) while it downloads.
    setWindowModality(Qt::NonModal);
    setMinimumDuration(0);
    setMinimumWidth(420);
    setAutoClose(false);
    setAutoReset(false);

    connect(m_updater, &Updater::downloadProgress, this, &DownloadDialog::showProgress);
    connect(m_updater, &Updater::downloadFinished, this, &QWidget::close);
    connect(m_updater, &Updater::downloadFailed, this, &QWidget::close);
    // The Cancel button, Escape and the title bar's close button all end up here.
    connect(this, &QProgressDialog::canceled, this, [this] {
        m_updater->cancelDownload();
        close();
    });
}

QString DownloadDialog::progressText(qint64 received, qint64 total)
{
    QString title = tr("Downloading update…");
    if (total > 0)
        return tr("%1 %2 % (%3 of %4 MB)")
            .arg(title)
            .arg(std::clamp<qint64>(received * 100 / total, 0, 100))
            .arg(megabytes(received), megabytes(total));
    if (received > 0)
        return tr("%1 %2 MB").arg(title, megabytes(received));
    return title;
}

void DownloadDialog::showProgress(qint64 received, qint64 total)
{
    setLabelText(progressText(received, total));
    if (total > 0) {
        setMaximum(s_steps);
        setValue(int(std::clamp<qint64>(received * s_steps / total, 0, s_steps)));
    } else {
        setMaximum(0); // busy indicator while the size is unknown
    }
}
