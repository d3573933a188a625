#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>
#include <utility>

// Background work with its result brought back: `work` runs on `pool`, then `callback` gets its
// result on the thread of `context`, from its event loop. The work must hold only copies (and make
// its own service objects); if `context` is gone by the time it ends, the result is dropped and
// the callback never runs. Nothing is cancelled: the work always runs to its end.
namespace AsyncTask {

template<typename Work, typename Callback>
void runThenCallback(QThreadPool *pool, QObject *context, Work &&work, Callback &&callback)
{
    using Result = std::invoke_result_t<std::decay_t<Work>>;
    auto *watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context,
                     [watcher, callback = std::forward<Callback>(callback)]() mutable {
                         if constexpr (std::is_void_v<Result>)
                             callback();
                         else
                             callback(watcher->result());
                         watcher->deleteLater();
                     });
    // After the connection: a future that is already done reports at once.
    watcher->setFuture(QtConcurrent::run(pool, std::forward<Work>(work)));
}

} // namespace AsyncTask
