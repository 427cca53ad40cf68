// The controller's answers to the requests an agent puts into its heartbeat, one function per
// request kind. Each builds the response element only; the reply builder places it.
#pragma once

#include <memory>
#include <vector>

#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "tools/controller/agent_report.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/schema_directory.h"

namespace zel::controller {

// What the reply to a heartbeat says about the agent and the group settings.
enum class SettingsOutcome {
    kNotAsked,     // the heartbeat asked for no group settings
    kSent,         // the document went out with the controller's version as token
    kUnchanged,    // the agent already holds the controller's version
    kUnavailable,  // the controller has no group settings document
};

// One item per policy asked for: the group settings document (code 0, token = the
// controller's version), ZEL_I_SS_NO_POLICY_CHANGE when the agent's token already names that
// version, ZEL_I_SS_NO_POLICY_AVAILABLE for every other namespace or without a document.
// `outcome` tells what happened to the group settings item, if there was one.
std::unique_ptr<cml::CGetPolicyResponse> AnswerGetPolicy(const cml::CGetPolicyRequest& request,
                                                         const GroupSettings& settings, SettingsOutcome& outcome);

// Accepts every policy handed over: one item (name, namespace, version, schema version,
// code 0) per policy, each also appended to `accepted`. A request without policies gets one
// item with ZEL_E_CML_INVALID_POLICY_CONTAINER and the response ZEL_E_CML_SET_POLICY_REQUEST_FAILED.
std::unique_ptr<cml::CSetPolicyResponse> AnswerSetPolicy(const cml::CSetPolicyRequest& request,
                                                         std::vector<ReportedPolicy>& accepted);

// One item per schema asked for, looked up by name in `schemas` (null: no directory): the
// document with code 0, or no document and ZEL_E_NOT_FOUND (unknown schema),
// ZEL_E_INVALIDARG (a name that would leave the directory) or ZEL_E_CML_INVALID_SCHEMA (the
// file is not an XML Schema document). Any failed item makes the response's code
// ZEL_E_CML_GET_SCHEMA_REQUEST_FAILED.
std::unique_ptr<cml::CGetSchemaResponse> AnswerGetSchema(const cml::CSchemaRequest& request,
                                                         const CSchemaDirectory* schemas);

// One "set-schema-response" item per schema handed over: code 0 once stored in `schemas`
// (null: accepted without storing), else ZEL_E_INVALIDARG (unsafe name),
// ZEL_E_CML_INVALID_SCHEMA (no document) or ZEL_E_WRITE_FAULT. Any failed item makes the
// response's code ZEL_E_CML_SET_SCHEMA_REQUEST_FAILED.
std::unique_ptr<cml::CSchemaResponse> AnswerSetSchema(const cml::CSetSchemaRequest& request,
                                                      const CSchemaDirectory* schemas);

}  // namespace zel::controller
