#include "update/update_record.h"

UpdateRecord& GetUpdateRecord()
{
    static UpdateRecord record;
    return record;
}
