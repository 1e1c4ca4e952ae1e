' One-shot inventory job. It reports what the agent and the machine are once
' and then ends itself with AbortScript, so that the agent stops scheduling
' it; the abort counts as a successful end of the run, not as an error.
Option Explicit

Sub main()
    Dim machine, product, version, folder
    machine = CVEXT.GetMachName()
    CVEXT.GetAgentInfo product, version, folder
    CVEXT.ZTrace "inventory: " & machine & " runs " & product & " " & version & " in " & folder
    CVEXT.CreateData "Inventory", "Agent version", "NULL", machine, 1, _
        product & " " & version & " on " & machine, 0

    CVEXT.AbortScript machine, "inventory collected; the job ends itself", 0, False

    ' Never reached: the abort ends the script above.
    CVEXT.ZTrace "inventory: still running after the abort"
End Sub
