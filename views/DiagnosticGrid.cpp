// The engine's diagnostic grid (its working arrays and the objective history as
// columns of a grid view) and its matrix views of the model Hessian.
#include "host/grid/GridView.h"
#include "host/viewid/UniqueViewID.h"
#include "minimize/UnconstrainedMinimization.h"
#include "views/MatrixView.h"

#include <memory>

namespace {

using Engine = CVRNUnconstrainedMinimization;

}  // namespace

void CVRNUnconstrainedMinimization::InstallDiagnosticGrid(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_DiagGridID = id;
    InstallDiagnosticGrid();
}

void CVRNUnconstrainedMinimization::InstallJacobianGrid(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_JacobianGridID = id;
    InstallJacobianGrid();
}

void CVRNUnconstrainedMinimization::InstallHessianGrid(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_HessianGridID = id;
    InstallHessianGrid();
}

void CVRNUnconstrainedMinimization::InstallDiagnosticGrid() {
    if (m_nAllocated == 0 || !m_pDocument || m_DiagGridID.IsEmpty())
        return;
    auto* setup = new KelGridSetup<Engine>(&Engine::SetupDiagGrid, this, 1, 0, m_DiagGridID, 0);
    CKelGridView* view = FindUniqueView<CKelGridView>(m_pDocument, m_DiagGridID);
    if (!view) {
        setup->Release();
        return;
    }
    view->InstallSetup(setup);
    CiKelViewIdentity* identity = view;
    identity->ApplySetup();
    identity->GetSetup();
}

void CVRNUnconstrainedMinimization::SetupDiagGrid(CKelGrid& grid, CKelDataSource* source) {
    CHdrGridDataSrc* columns = source ? source->GetHdrGridDataSrc() : nullptr;
    m_pDiagGrid = &grid;
    if (!columns)
        return;
    CBaseHdr* arrays[] = {&m_X0,   &m_X,    &m_UDiag, &m_TypSiz, &m_Grad,         &m_Step,    &m_ScaleX,
                          &m_Wrk0, &m_Wrk1, &m_Wrk2,  &m_Wrk3,   &m_ErrorHistory, &m_GradMin, &m_XMin};
    for (CBaseHdr* array : arrays)
        columns->AddCol(array, nullptr, nullptr);
    grid.EnableMenu(1);
    columns->Construct();
}

void CVRNUnconstrainedMinimization::InstallJacobianGrid() {
    if (m_nAllocated == 0 || !m_pDocument || m_JacobianGridID.IsEmpty())
        return;
    CVRNMatrixView* view = FindUniqueView<CVRNMatrixView>(m_pDocument, m_JacobianGridID);
    if (!view)
        return;
    view->SetCMatrix(m_Hessian);
}

void CVRNUnconstrainedMinimization::InstallHessianGrid() {
    if (m_nAllocated == 0 || !m_pDocument || m_HessianGridID.IsEmpty())
        return;
    CVRNMatrixView* view = FindUniqueView<CVRNMatrixView>(m_pDocument, m_HessianGridID);
    if (!view)
        return;
    m_pHessianView = view;
    view->SetCMatrix(m_Hessian);
}

void CVRNUnconstrainedMinimization::UpdateDiagGrid() {
    if (m_pMethod) m_pMethod->UpdateViews();
    if (m_pDiagGrid && m_bShowDiag) m_pDiagGrid->RedrawAll();
    if (m_pHessianView && m_bShowHessian)
        m_pHessianView->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}
