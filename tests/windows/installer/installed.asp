<%@ Language="VBScript" %>
<%
' installed.asp - each class of VARO.DLL created through its ProgID, as a
' page does once the DLL is installed.
Dim name
For Each name In Array("VARO.WebMng", "VARO.Upload", "VARO.Progress")
    Response.Write name & "=" & TypeName(Server.CreateObject(name)) & vbCrLf
Next
%>
