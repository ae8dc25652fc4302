// Statuses of a package download as the downloader reports them and the workflow keeps them.
// The values travel as int in DownloadProgressInfo::m_n_status: they never change.
#pragma once

enum class DownloadStatus : int {
    NoUrl = -100,       // the workflow's own: no package address at all
    NoMemory = -7,
    FileSize = -6,
    Combine = -5,
    Network = -4,
    FileWrite = -3,
    None = -1,          // no progress record yet
    Done = 0,           // the workflow's own: installed
    Downloading = 1,
    Success = 2,        // the output holds the whole file
    Installing = 3,     // the workflow's own: the setup runs
};

constexpr int StatusCode(DownloadStatus s) { return static_cast<int>(s); }
constexpr DownloadStatus ToDownloadStatus(int code) { return static_cast<DownloadStatus>(code); }
