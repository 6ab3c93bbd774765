#pragma once

#include "serial/portfile.h"

#include <QString>

class SerialLink;

// The operator's port choice, remembered in "COMPORT" in the working directory.
class PortChoice {
public:
    explicit PortChoice(SerialLink& link, QString fileName = kPortFileName);

    // The index to select at start-up; 0 when the file is missing or unusable.
    int rememberedIndex() const;
    // The selection became `index`: close the link, set the port number, remember it.
    void pick(int index);

private:
    void remember(int index) const;

    SerialLink& link_;
    QString fileName_;
};
