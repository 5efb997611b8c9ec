#include "core/ProgramState.h"

namespace quill {

QString ProgramState::selectedDatabaseName() const {
    std::lock_guard lock(mutex_);
    return selectedDatabaseName_;
}

void ProgramState::setSelectedDatabaseName(const QString& name) {
    std::lock_guard lock(mutex_);
    selectedDatabaseName_ = name;
}

QString ProgramState::connectedServer() const {
    std::lock_guard lock(mutex_);
    return connectedServer_;
}

void ProgramState::setConnectedServer(const QString& server) {
    std::lock_guard lock(mutex_);
    connectedServer_ = server;
}

}  // namespace quill
