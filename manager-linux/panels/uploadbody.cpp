#include "uploadbody.h"

bool UploadBody::seek(qint64 offset) {
    // A seek to where the read stands moves nothing and is harmless.
    if (started_ && offset != pos()) return false;
    return QFile::seek(offset);
}

qint64 UploadBody::readData(char* data, qint64 maxSize) {
    started_ = true;
    return QFile::readData(data, maxSize);
}
