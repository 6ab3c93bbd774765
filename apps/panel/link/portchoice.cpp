#include "portchoice.h"

#include "seriallink.h"

#include <QFile>


PortChoice::PortChoice(SerialLink& link, QString fileName)
    : link_(link), fileName_(std::move(fileName))
{
}

int PortChoice::rememberedIndex() const
{
    return readRememberedIndex(fileName_).value_or(0);
}

void PortChoice::pick(int index)
{
    link_.closeOnPortChange();
    link_.setPortNumber(index + 1);
    remember(index);
}

void PortChoice::remember(int index) const
{
    // A directory that can not take the file leaves the choice for this run only.
    QFile file(fileName_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(formatPortFile(index));
}
