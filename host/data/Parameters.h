#pragma once

#include "host/framework/String.h"

// A named parameter. The descriptor gives the parameter its name (GetName),
// the field after the leading number (see Descriptor.h). Interchange nodes list
// parameters through this base; GetDouble/SetDouble read and write the value
// whatever the parameter's type.
class CBasePar {
public:
    CBasePar() = default;
    CBasePar(const CBasePar&) = default;
    CBasePar& operator=(const CBasePar&) = default;
    virtual ~CBasePar() = default;

    virtual void Init(const char* descriptor);
    virtual CString GetName() const { return m_Name; }
    const CString& GetDescriptor() const { return m_Descriptor; }
    virtual CBasePar* GetBasePar() { return this; }

    virtual double GetDouble() const = 0;
    virtual void SetDouble(double v) = 0;

protected:
    CString m_Descriptor;
    CString m_Name;
};

// An int parameter, used as a switch (non-zero is on).
//
// Copy construction copies descriptor and value; assignment from another
// CIntPar copies the value only, so a parameter keeps its name.
class CIntPar : public CBasePar {
public:
    CIntPar() = default;
    explicit CIntPar(int value) : m_nValue(value) {}
    CIntPar(const char* descriptor, int value) : m_nValue(value) { Init(descriptor); }
    CIntPar(const CIntPar&) = default;
    CIntPar& operator=(const CIntPar& other) {
        m_nValue = other.m_nValue;
        return *this;
    }
    ~CIntPar() override = default;

    CIntPar& operator=(const int& v) {
        m_nValue = v;
        return *this;
    }
    int GetValue() const { return m_nValue; }
    operator int() const { return m_nValue; }
    explicit operator bool() const { return m_nValue != 0; }
    bool operator!() const { return m_nValue == 0; }
    bool operator&&(bool b) const { return m_nValue != 0 && b; }
    bool operator==(int v) const { return m_nValue == v; }

    double GetDouble() const override { return static_cast<double>(m_nValue); }
    // Truncates toward zero; values beyond the int range are clamped, NaN gives 0.
    void SetDouble(double v) override;

private:
    int m_nValue = 0;
};

// A double parameter. Assignment from another CSynPar copies the value only.
class CSynPar : public CBasePar {
public:
    CSynPar() = default;
    explicit CSynPar(double value) : m_dValue(value) {}
    CSynPar(const char* descriptor, double value) : m_dValue(value) { Init(descriptor); }
    CSynPar(const CSynPar&) = default;
    CSynPar& operator=(const CSynPar& other) {
        m_dValue = other.m_dValue;
        return *this;
    }
    ~CSynPar() override = default;

    CSynPar& operator=(const double& v) {
        m_dValue = v;
        return *this;
    }
    double GetValue() const { return m_dValue; }
    operator double() const { return m_dValue; }

    double GetDouble() const override { return m_dValue; }
    void SetDouble(double v) override { m_dValue = v; }

private:
    double m_dValue = 0.0;
};
