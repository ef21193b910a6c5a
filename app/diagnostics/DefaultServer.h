// Where the update server is when the command line does not say. The name is under the reserved
// ".invalid" domain, so a build that was never pointed at a real server cannot reach anybody's.
#pragma once

#define UPDATE_SERVER_DEFAULT_HOST "update.pelmorax.invalid"
#define UPDATE_SERVER_PATH "/cgi/u"
#define UPDATE_SERVER_HTTP_URL "http://" UPDATE_SERVER_DEFAULT_HOST UPDATE_SERVER_PATH
#define UPDATE_SERVER_HTTPS_URL "https://" UPDATE_SERVER_DEFAULT_HOST UPDATE_SERVER_PATH
