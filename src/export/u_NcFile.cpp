#include "export/u_NcFile.h"

#include <netcdf.h>

namespace kwd::exporter {

tNcFile::tNcFile(const std::string& finalPath) : fFile(finalPath, "NetCDF file") {
    // The library opens the file itself; the name stays reserved for it.
    fFile.close();
    check(nc_create(fFile.tempPath().c_str(), NC_NETCDF4 | NC_CLOBBER, &fId), "create the file");
    fOpen = true;
    int oldMode = 0;
    check(nc_set_fill(fId, NC_NOFILL, &oldMode), "set the fill mode");
}

tNcFile::~tNcFile() {
    if (fOpen) nc_close(fId);
}

void tNcFile::check(int status, const std::string& what) const {
    if (status != NC_NOERR) fFile.fail(what, nc_strerror(status));
}

int tNcFile::defineDim(const std::string& name, size_t length) {
    int dim = -1;
    check(nc_def_dim(fId, name.c_str(), length, &dim), "define the dimension " + name);
    return dim;
}

int tNcFile::defineRecordDim(const std::string& name, size_t length) {
    fRecordDim = defineDim(name, NC_UNLIMITED);
    fRecords = length;
    return fRecordDim;
}

void tNcFile::extent(int var, std::vector<size_t>& start, std::vector<size_t>& count) const {
    int n = 0;
    check(nc_inq_varndims(fId, var, &n), "read a variable's dimensions");
    std::vector<int> dims(size_t(n) + 1);
    check(nc_inq_vardimid(fId, var, dims.data()), "read a variable's dimensions");
    start.assign(size_t(n), 0);
    count.assign(size_t(n), 0);
    for (int d = 0; d < n; ++d) {
        if (dims[size_t(d)] == fRecordDim) {
            count[size_t(d)] = fRecords;
            continue;
        }
        check(nc_inq_dimlen(fId, dims[size_t(d)], &count[size_t(d)]), "read a dimension's length");
    }
}

int tNcFile::defineVar(const std::string& name, int type, const std::vector<int>& dims) {
    int var = -1;
    check(nc_def_var(fId, name.c_str(), nc_type(type), int(dims.size()), dims.data(), &var),
          "define the variable " + name);
    if (dims.size() >= 2)
        check(nc_def_var_deflate(fId, var, 1, 1, 2), "set the compression of " + name);
    return var;
}

void tNcFile::text(int var, const std::string& name, const std::string& value) {
    check(nc_put_att_text(fId, var, name.c_str(), value.size(), value.c_str()),
          "write the attribute " + name);
}

void tNcFile::doubleAtt(int var, const std::string& name, const std::vector<double>& values) {
    check(nc_put_att_double(fId, var, name.c_str(), NC_DOUBLE, values.size(), values.data()),
          "write the attribute " + name);
}

void tNcFile::intAtt(int var, const std::string& name, const std::vector<int>& values) {
    check(nc_put_att_int(fId, var, name.c_str(), NC_INT, values.size(), values.data()),
          "write the attribute " + name);
}

void tNcFile::floatAtt(int var, const std::string& name, float value) {
    check(nc_put_att_float(fId, var, name.c_str(), NC_FLOAT, 1, &value),
          "write the attribute " + name);
}

void tNcFile::fillValue(int var, double value) {
    nc_type type = NC_NAT;
    check(nc_inq_vartype(fId, var, &type), "read a variable's type");
    if (type == NC_FLOAT) {
        const float f = float(value);
        check(nc_def_var_fill(fId, var, 0, &f), "set a fill value");
    } else {
        check(nc_def_var_fill(fId, var, 0, &value), "set a fill value");
    }
}

void tNcFile::putDoubles(int var, const std::vector<double>& values, const std::string& name) {
    std::vector<size_t> start, count;
    extent(var, start, count);
    check(nc_put_vara_double(fId, var, start.data(), count.data(), values.data()), "write " + name);
}

void tNcFile::putFloats(int var, const std::vector<float>& values, const std::string& name) {
    std::vector<size_t> start, count;
    extent(var, start, count);
    check(nc_put_vara_float(fId, var, start.data(), count.data(), values.data()), "write " + name);
}

void tNcFile::putInts(int var, const std::vector<int>& values, const std::string& name) {
    std::vector<size_t> start, count;
    extent(var, start, count);
    check(nc_put_vara_int(fId, var, start.data(), count.data(), values.data()), "write " + name);
}

void tNcFile::putInt64s(int var, const std::vector<int64_t>& values, const std::string& name) {
    static_assert(sizeof(long long) == sizeof(int64_t));
    std::vector<size_t> start, count;
    extent(var, start, count);
    check(nc_put_vara_longlong(fId, var, start.data(), count.data(),
                               reinterpret_cast<const long long*>(values.data())),
          "write " + name);
}

void tNcFile::commit() {
    fOpen = false;
    check(nc_close(fId), "close the file");
    fFile.commit();
}

}  // namespace kwd::exporter
